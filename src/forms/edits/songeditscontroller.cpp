#include "forms/edits/songeditscontroller.h"

#include "forms/edits/songeditspanel.h"
#include "forms/main/form1.h"
#include "forms/slotstatusbar.h"
#include "model/durations.h"
#include "model/slotfigures.h"
#include "model/slotfit.h"
#include "model/songtable.h"
#include "platform/desktop/messageboxes.h"
#include "platform/media/playbackcontrol.h"

#include <QAbstractItemView>
#include <QAction>

using namespace Qt::StringLiterals;

SongEditsController::SongEditsController(Form1 *form, PlaybackControl *playback,
                                         MessageBoxes *boxes, QWidget *host, const SlotStatusBar *slot)
    : QObject(host)
    , m_form(form)
    , m_playback(playback)
    , m_boxes(boxes)
    , m_host(host)
    , m_slot(slot)
{
    m_edit = new QAction(u"セットリストの曲を編集…"_s, host);
    m_edit->setObjectName(u"editSongAction"_s);
    m_edit->setShortcut(QKeySequence(u"Ctrl+E"_s));
    connect(m_edit, &QAction::triggered, this, [this] { editRow(qMax(1, m_form->MSHFlexGrid2().Row())); });
    m_fit = new QAction(u"持ち時間に合わせる（最後の曲をフェードアウト）…"_s, host);
    m_fit->setObjectName(u"fitSlotAction"_s);
    connect(m_fit, &QAction::triggered, this, [this] { fitSlot(lastSongRow()); });
    m_fitSelected = new QAction(u"持ち時間に合わせる（選んだ曲をフェードアウト）…"_s, host);
    m_fitSelected->setObjectName(u"fitSlotSelectedAction"_s);
    connect(m_fitSelected, &QAction::triggered, this, [this] { fitSlot(qMax(1, m_form->MSHFlexGrid2().Row())); });
    for (QAction *action : { m_edit, m_fit, m_fitSelected })
        host->addAction(action);

    if (auto *view = qobject_cast<QAbstractItemView *>(m_form->setListView())) {
        connect(view, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex &index) {
            if (index.column() == 3 && m_edit->isEnabled())
                editRow(index.row() + 1);
        });
    }
    connect(m_form, &Form1::availabilityChanged, this, &SongEditsController::availabilityChanged);
    availabilityChanged();
}

void SongEditsController::availabilityChanged()
{
    // While the preview plays, the window is locked; the set list stays as it is.
    const bool idle = !m_form->isPlaying();
    for (QAction *action : { m_edit, m_fit, m_fitSelected })
        action->setEnabled(idle);
}

int SongEditsController::lastSongRow() const
{
    const SongTable &list = m_form->MSHFlexGrid2();
    for (int r = list.Rows() - 1; r >= 1; --r)
        if (!list.textAt(r, 1).isEmpty())
            return r;
    return 0;
}

void SongEditsController::editRow(int row)
{
    const SongTable &list = m_form->MSHFlexGrid2();
    if (!m_edit->isEnabled())
        return;
    if (row < 1 || row >= list.Rows() || list.textAt(row, 1).isEmpty()) {
        m_boxes->inform(m_host, u"楽曲が選択されていません"_s, QString());
        return;
    }
    SongEditsPanel panel(list.textAt(row, 2), list.textAt(row, 1), list.extrasAt(row), m_playback, m_boxes,
                         m_host);
    // A hook drives the panel itself, to OK or Cancel.
    if (m_hook)
        m_hook(&panel);
    else
        panel.exec();
    if (panel.result() == QDialog::Accepted)
        m_form->applyRowEdits(row, panel.rowExtras());
}

void SongEditsController::fitSlot(int row)
{
    const SongTable &list = m_form->MSHFlexGrid2();
    if (row < 1 || row >= list.Rows() || list.textAt(row, 1).isEmpty()) {
        m_boxes->inform(m_host, u"セットリストに曲がセットされていません"_s, u"お知らせ"_s);
        return;
    }
    SlotFigures figures = SlotFigures::ofSetList(list);
    figures.slotSeconds = m_slot->slotSeconds();
    figures.pauseSeconds = m_slot->pauseSeconds();
    if (!figures.slotSeconds) {
        m_boxes->inform(m_host, u"持ち時間が入っていません。ステータスバーの「持ち時間」に入れてください"_s, u"お知らせ"_s);
        return;
    }
    SetListRowExtras extras = list.extrasAt(row);
    if (extras.songMs <= 0)
        extras.songMs = m_playback->lengthMs(list.textAt(row, 2));
    const qint64 shown = SlotFigures::parseLength(list.textAt(row, 3)).value_or(0);
    const SlotFit fit = SlotFit::propose(figures, shown, extras.edits, extras.songMs);
    const QString title = list.textAt(row, 1);
    switch (fit.outcome) {
    case SlotFit::Outcome::Fits:
        m_boxes->inform(m_host, u"セットは持ち時間に収まっています"_s, u"お知らせ"_s);
        return;
    case SlotFit::Outcome::CannotFit:
        m_boxes->inform(m_host,
                        u"「%1」を短くするだけでは持ち時間に収まりません（%2 超過）"_s.arg(title, figures.leftText()),
                        u"お知らせ"_s);
        return;
    case SlotFit::Outcome::Proposed:
        break;
    }
    const QString proposal = u"「%1」を %2 で終わらせ、%3 秒かけてフェードアウトします。\n"
                             u"曲の長さ: %4 → %5（%6 秒短く）\n\nこの編集をしますか？"_s
                                 .arg(title, SongEditsPanel::timeText(fit.edits.endMs.value_or(extras.songMs)))
                                 .arg(fit.edits.fadeOutMs / 1000)
                                 .arg(list.textAt(row, 3), FormatLength(double(fit.editedMs)))
                                 .arg(double(fit.shorterMs) / 1000.0, 0, 'f', 1);
    if (!m_boxes->ask(m_host, proposal, u"持ち時間に合わせる"_s))
        return;
    extras.edits = fit.edits;
    m_form->applyRowEdits(row, extras);
}
