#include "forms/slotstatusbar.h"

#include "model/slotfigures.h"

#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSpinBox>

using namespace Qt::StringLiterals;

SlotStatusBar::SlotStatusBar(QWidget *parent)
    : QStatusBar(parent)
    , m_songs(new QLabel(this))
    , m_total(new QLabel(this))
    , m_slot(new QLineEdit(this))
    , m_pause(new QSpinBox(this))
    , m_left(new QLabel(this))
{
    setObjectName(u"slotStatusBar"_s);
    setSizeGripEnabled(false);
    m_songs->setObjectName(u"songCount"_s);
    m_total->setObjectName(u"totalLength"_s);
    m_slot->setObjectName(u"slotLength"_s);
    m_pause->setObjectName(u"pauseLength"_s);
    m_left->setObjectName(u"slotLeft"_s);

    m_slot->setPlaceholderText(u"hh:mm:ss"_s);
    m_slot->setToolTip(u"会場から与えられた持ち時間（例 00:25:00）。空にすると残り時間を表示しません"_s);
    m_slot->setFixedWidth(m_slot->fontMetrics().horizontalAdvance(u"000:00:00"_s) + 16);
    m_pause->setRange(0, MaxPauseSeconds);
    m_pause->setSuffix(u" 秒"_s);
    m_pause->setToolTip(u"曲と曲の間の MC などの時間。最初の曲の前と最後の曲の後には数えません"_s);

    auto *slotLabel = new QLabel(u"持ち時間"_s, this);
    slotLabel->setBuddy(m_slot);
    auto *pauseLabel = new QLabel(u"曲間"_s, this);
    pauseLabel->setBuddy(m_pause);
    for (QWidget *w : std::initializer_list<QWidget *>{ m_songs, m_total, slotLabel, m_slot, pauseLabel, m_pause, m_left })
        addPermanentWidget(w);

    connect(m_slot, &QLineEdit::textEdited, this, [this] {
        refresh();
        Q_EMIT slotEdited();
    });
    // A readable length is shown the one way it is kept, "00:45:00".
    connect(m_slot, &QLineEdit::editingFinished, this, [this] {
        if (const auto seconds = slotSeconds())
            m_slot->setText(SlotFigures::lengthText(*seconds));
    });
    connect(m_pause, &QSpinBox::valueChanged, this, [this] {
        refresh();
        Q_EMIT slotEdited();
    });
    refresh();
}

std::optional<qint64> SlotStatusBar::slotSeconds() const
{
    return SlotFigures::parseLength(m_slot->text());
}

int SlotStatusBar::pauseSeconds() const
{
    return m_pause->value();
}

void SlotStatusBar::setSlot(std::optional<qint64> seconds)
{
    m_slot->setText(seconds ? SlotFigures::lengthText(*seconds) : QString());
    refresh();
}

void SlotStatusBar::setPauseSeconds(int seconds)
{
    const QSignalBlocker quiet(m_pause);
    m_pause->setValue(seconds);
    refresh();
}

void SlotStatusBar::showFigures(SlotFigures figures)
{
    m_songCount = figures.songs;
    m_totalSeconds = figures.totalSeconds;
    refresh();
}

void SlotStatusBar::refresh()
{
    const SlotFigures figures{ m_songCount, m_totalSeconds, slotSeconds(), m_pause->value() };
    m_songs->setText(u"%1 曲"_s.arg(figures.songs));
    m_total->setText(u"合計 "_s + SlotFigures::lengthText(figures.totalSeconds));
    if (!m_slot->text().trimmed().isEmpty() && !figures.slotSeconds) {
        m_left->setText(u"持ち時間は hh:mm:ss で入力してください"_s);
        m_left->setStyleSheet({});
        return;
    }
    m_left->setText(figures.leftText());
    m_left->setStyleSheet(figures.isOver() ? u"color: red; font-weight: bold;"_s : QString());
}
