#include "forms/edits/songeditspanel.h"

#include "forms/waveform/songeditview.h"
#include "platform/audio/peaks/peakscan.h"
#include "platform/audio/peaks/zerocrossing.h"

#include "model/durations.h"
#include "platform/audio/audiblebounds.h"
#include "platform/audio/player/realtimestretch.h"
#include "platform/desktop/messageboxes.h"
#include "platform/media/playbackcontrol.h"

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {
// What is quieter than this at the head and tail counts as silence: well below
// any music, above the noise of a quiet recording.
constexpr double PanelSilenceDb = -50.0;
constexpr qint64 PanelSeekStepMs = 5000;
// Listening to the end: this long before it.
constexpr qint64 PanelEndingMs = 10000;
constexpr int PanelTickMs = 100;
constexpr double PanelLongestFadeSeconds = 60.0;
} // namespace

SongEditsPanel::SongEditsPanel(const QString &path, const QString &title, const SetListRowExtras &extras,
                               PlaybackControl *playback, MessageBoxes *boxes, QWidget *parent)
    : QDialog(parent)
    , m_path(path)
    , m_extras(extras)
    , m_edits(extras.edits)
    , m_playback(playback)
    , m_boxes(boxes)
{
    setObjectName(u"songEditsPanel"_s);
    setWindowTitle(u"曲の編集 - "_s + title);
    setAccessibleName(windowTitle());
    // The length the set list was filled from; a row added by hand may have
    // none yet, and is measured now (as the file is, not as edited).
    if (m_extras.songMs > 0) {
        m_songMs = m_extras.songMs;
    } else if (const auto plain = m_playback->open({ m_path })) {
        m_songMs = plain->lengthMs();
    }
    m_extras.songMs = m_songMs;
    build();
    showEdits();
    m_built = true;
}

SongEditsPanel::~SongEditsPanel() = default;

QString SongEditsPanel::timeText(qint64 ms)
{
    ms = std::max<qint64>(0, ms);
    const qint64 h = ms / 3'600'000, m = ms / 60'000 % 60, s = ms / 1000 % 60, f = ms % 1000;
    const QString rest = u"%1.%2"_s.arg(s, 2, 10, QChar(u'0')).arg(f, 3, 10, QChar(u'0'));
    return h > 0 ? u"%1:%2:%3"_s.arg(h).arg(m, 2, 10, QChar(u'0')).arg(rest) : u"%1:%2"_s.arg(m).arg(rest);
}

std::optional<qint64> SongEditsPanel::msOfTime(QStringView text)
{
    static const QRegularExpression form(uR"(^\s*(?:(?:(\d+):)?(\d+):)?(\d+(?:\.\d{0,3})?)\s*$)"_s);
    const auto match = form.match(text.toString());
    if (!match.hasMatch())
        return std::nullopt;
    const qint64 h = match.capturedView(1).toLongLong(), m = match.capturedView(2).toLongLong();
    const double s = match.capturedView(3).toDouble();
    // Minutes and seconds below 60 once a larger unit is given, as a clock reads.
    if ((match.hasCaptured(2) && s >= 60) || (match.hasCaptured(1) && m >= 60) || h > 24)
        return std::nullopt;
    return (h * 3600 + m * 60) * 1000 + qint64(std::llround(s * 1000));
}

QPushButton *SongEditsPanel::button(const QString &text, const char *name)
{
    auto *b = new QPushButton(text, this);
    b->setObjectName(QLatin1StringView(name));
    b->setAccessibleName(text);
    b->setAutoDefault(false);
    return b;
}

QLineEdit *SongEditsPanel::timeEdit(const char *name, const QString &accessible)
{
    auto *edit = new QLineEdit(this);
    edit->setObjectName(QLatin1StringView(name));
    edit->setAccessibleName(accessible);
    edit->setPlaceholderText(u"分:秒.ミリ秒"_s);
    connect(edit, &QLineEdit::editingFinished, this, &SongEditsPanel::readControls);
    return edit;
}

void SongEditsPanel::build()
{
    auto *layout = new QVBoxLayout(this);
    auto *source = new QLabel(u"元の長さ %1"_s.arg(timeText(m_songMs)), this);
    source->setObjectName(u"songLengthLabel"_s);
    source->setAccessibleName(u"元の長さ"_s);
    layout->addWidget(source);

    // The song as shaped: its start and end dragged on the picture, a click to hear it from there.
    m_view = new SongEditView(this);
    m_view->setObjectName(u"songEditView"_s);
    m_view->setSamplesFrom(m_path);
    m_view->setAccessibleName(u"曲の波形（始まりと終わりをドラッグ、クリックでそこから再生）"_s);
    layout->addWidget(m_view);
    connect(m_view, &SongEditView::startDragged, this, [this](qint64 ms) {
        m_start->setText(timeText(ms));
        readControls();
    });
    connect(m_view, &SongEditView::endDragged, this, [this](qint64 ms) {
        m_end->setText(timeText(ms));
        readControls();
    });
    connect(m_view, &SongEditView::playFrom, this, [this](qint64 ms) { listen(false, ms); });
    connect(m_view, &SongEditView::dragEnded, this, &SongEditsPanel::showLength);
    // Let go of, a point lands on the nearest zero crossing (Alt: where it was let go).
    const auto snapped = [this](qint64 ms, bool snap) { return snap ? ZeroCrossing::snap(m_path, ms) : ms; };
    connect(m_view, &SongEditView::startDropped, this, [this, snapped](qint64 ms, bool snap) {
        m_start->setText(timeText(snapped(ms, snap)));
        readControls();
    });
    connect(m_view, &SongEditView::endDropped, this, [this, snapped](qint64 ms, bool snap) {
        m_end->setText(timeText(snapped(ms, snap)));
        readControls();
    });
    connect(m_view, &SongEditView::fadeInDragged, this, [this](qint64 ms) { m_fadeIn->setValue(double(ms) / 1000.0); });
    connect(m_view, &SongEditView::fadeOutDragged, this, [this](qint64 ms) { m_fadeOut->setValue(double(ms) / 1000.0); });
    connect(m_view, &SongEditView::cutDragged, this, [this, snapped](qint64 from, qint64 to, bool snap) {
        m_cutFrom->setText(timeText(snapped(from, snap)));
        m_cutTo->setText(timeText(snapped(to, snap)));
        addCut();
    });
    m_outline = std::make_unique<PeakScan>(m_path, PeakScan::defaultRoot());
    const auto draw = [this] { m_view->setOutline(m_outline->peaks()); };
    connect(m_outline.get(), &PeakScan::progressed, this, draw);
    connect(m_outline.get(), &PeakScan::finished, this, draw);

    // Listening: the source to find the points, the edited song to check them.
    auto *listening = new QHBoxLayout;
    QPushButton *playSource = button(u"原曲を再生"_s, "playSourceButton");
    QPushButton *playEdited = button(u"編集後を頭から聴く"_s, "playEditedButton");
    QPushButton *playEnding = button(u"編集後の終わりを聴く"_s, "playEndingButton");
    QPushButton *stopButton = button(u"停止"_s, "stopListeningButton");
    QPushButton *back = button(u"◀ 5 秒"_s, "seekBackButton");
    QPushButton *on = button(u"5 秒 ▶"_s, "seekOnButton");
    for (QPushButton *b : { playSource, playEdited, playEnding, stopButton, back, on })
        listening->addWidget(b);
    layout->addLayout(listening);
    m_position = new QLabel(this);
    m_position->setObjectName(u"positionLabel"_s);
    m_position->setAccessibleName(u"再生位置"_s);
    layout->addWidget(m_position);
    connect(playSource, &QPushButton::clicked, this, [this] { listen(false, 0); });
    connect(playEdited, &QPushButton::clicked, this, [this] { listen(true, 0); });
    connect(playEnding, &QPushButton::clicked, this,
            [this] { listen(true, std::max<qint64>(0, m_edits.editedMs(m_songMs) - PanelEndingMs)); });
    connect(stopButton, &QPushButton::clicked, this, &SongEditsPanel::stop);
    connect(back, &QPushButton::clicked, this, [this] { seekBy(-PanelSeekStepMs); });
    connect(on, &QPushButton::clicked, this, [this] { seekBy(PanelSeekStepMs); });
    // The player's own keys; a time being typed keeps its arrows.
    const struct
    {
        QKeySequence key;
        qint64 step;
    } keys[] = { { QKeySequence(Qt::Key_Left), -PanelSeekStepMs }, { QKeySequence(Qt::Key_Right), PanelSeekStepMs } };
    for (const auto &k : keys) {
        auto *action = new QAction(this);
        action->setShortcut(k.key);
        connect(action, &QAction::triggered, this, [this, step = k.step] { seekBy(step); });
        addAction(action);
    }

    auto *points = new QGroupBox(u"始まりと終わり"_s, this);
    points->setObjectName(u"pointsGroup"_s);
    auto *grid = new QGridLayout(points);
    m_start = timeEdit("startEdit", u"始まり"_s);
    m_end = timeEdit("endEdit", u"終わり"_s);
    m_end->setPlaceholderText(u"曲の終わりまで"_s);
    QPushButton *fromHere = button(u"ここから"_s, "startHereButton");
    QPushButton *toHere = button(u"ここまで"_s, "endHereButton");
    grid->addWidget(new QLabel(u"始まり"_s, points), 0, 0);
    grid->addWidget(m_start, 0, 1);
    grid->addWidget(fromHere, 0, 2);
    grid->addWidget(new QLabel(u"終わり"_s, points), 1, 0);
    grid->addWidget(m_end, 1, 1);
    grid->addWidget(toHere, 1, 2);
    // The points at the playing position; with nothing playing there is none.
    const auto here = [this](QLineEdit *edit, bool read) {
        if (!m_playing)
            return;
        edit->setText(timeText(sourcePositionMs()));
        if (read)
            readControls();
    };
    connect(fromHere, &QPushButton::clicked, this, [here, this] { here(m_start, true); });
    connect(toHere, &QPushButton::clicked, this, [here, this] { here(m_end, true); });
    QPushButton *trim = button(u"頭と終わりの無音を詰める"_s, "trimSilenceButton");
    m_silence = new QLabel(this);
    m_silence->setObjectName(u"silenceLabel"_s);
    m_silence->setAccessibleName(u"無音"_s);
    grid->addWidget(trim, 2, 0, 1, 2);
    grid->addWidget(m_silence, 2, 2);
    connect(trim, &QPushButton::clicked, this, &SongEditsPanel::trimSilence);
    layout->addWidget(points);

    auto *fades = new QGroupBox(u"フェード"_s, this);
    fades->setObjectName(u"fadesGroup"_s);
    auto *fadeForm = new QFormLayout(fades);
    const auto fadeSpin = [&](const char *name, const QString &label) {
        auto *spin = new QDoubleSpinBox(fades);
        spin->setObjectName(QLatin1StringView(name));
        spin->setAccessibleName(label);
        spin->setRange(0, PanelLongestFadeSeconds);
        spin->setDecimals(1);
        spin->setSingleStep(0.5);
        spin->setSuffix(u" 秒"_s);
        connect(spin, &QDoubleSpinBox::valueChanged, this, &SongEditsPanel::readControls);
        fadeForm->addRow(label, spin);
        return spin;
    };
    m_fadeIn = fadeSpin("fadeInSpin", u"フェードイン"_s);
    m_fadeOut = fadeSpin("fadeOutSpin", u"フェードアウト（終わりに向けて）"_s);
    layout->addWidget(fades);

    auto *cuts = new QGroupBox(u"切り取り（間を詰めて短いクロスフェードでつなぐ）"_s, this);
    cuts->setObjectName(u"cutsGroup"_s);
    auto *cutGrid = new QGridLayout(cuts);
    m_cutFrom = timeEdit("cutFromEdit", u"切り取りの始まり"_s);
    m_cutTo = timeEdit("cutToEdit", u"切り取りの終わり"_s);
    disconnect(m_cutFrom, nullptr, this, nullptr);
    disconnect(m_cutTo, nullptr, this, nullptr);
    QPushButton *cutFromHere = button(u"ここから"_s, "cutFromHereButton");
    QPushButton *cutToHere = button(u"ここまで"_s, "cutToHereButton");
    QPushButton *add = button(u"切り取りを追加"_s, "addCutButton");
    QPushButton *remove = button(u"選んだ切り取りを消す"_s, "removeCutButton");
    QPushButton *hearJoin = button(u"選んだつなぎ目の前後を聴く"_s, "playAroundCutButton");
    m_cuts = new QListWidget(cuts);
    m_cuts->setObjectName(u"cutList"_s);
    m_cuts->setAccessibleName(u"切り取り"_s);
    m_cuts->setMaximumHeight(80);
    cutGrid->addWidget(m_cutFrom, 0, 0);
    cutGrid->addWidget(cutFromHere, 0, 1);
    cutGrid->addWidget(m_cutTo, 0, 2);
    cutGrid->addWidget(cutToHere, 0, 3);
    cutGrid->addWidget(add, 0, 4);
    cutGrid->addWidget(m_cuts, 1, 0, 1, 4);
    auto *cutButtons = new QVBoxLayout;
    cutButtons->addWidget(remove);
    cutButtons->addWidget(hearJoin);
    cutGrid->addLayout(cutButtons, 1, 4);
    connect(cutFromHere, &QPushButton::clicked, this, [here, this] { here(m_cutFrom, false); });
    connect(cutToHere, &QPushButton::clicked, this, [here, this] { here(m_cutTo, false); });
    connect(add, &QPushButton::clicked, this, &SongEditsPanel::addCut);
    connect(remove, &QPushButton::clicked, this, &SongEditsPanel::removeCut);
    connect(hearJoin, &QPushButton::clicked, this, [this] {
        const int row = m_cuts->currentRow();
        if (row < 0 || row >= m_edits.cuts.size())
            return;
        // Where the join falls in the edited song, laid out in milliseconds;
        // heard from a few seconds before it.
        const EditPlan plan(m_edits.fitted(m_songMs), m_songMs, 1000);
        const qint64 join = plan.outputFrame(plan.joinedFrame(m_edits.cuts.at(row).fromMs));
        listen(true, std::max<qint64>(0, join - PanelSeekStepMs));
    });
    layout->addWidget(cuts);

    auto *stretch = new QGroupBox(u"キーとテンポ"_s, this);
    stretch->setObjectName(u"stretchGroup"_s);
    auto *stretchForm = new QFormLayout(stretch);
    m_key = new QSpinBox(stretch);
    m_key->setObjectName(u"keySpin"_s);
    m_key->setAccessibleName(u"キー（半音）"_s);
    m_key->setRange(SongEdits::MinSemitones, SongEdits::MaxSemitones);
    m_key->setSuffix(u" 半音"_s);
    m_tempo = new QSpinBox(stretch);
    m_tempo->setObjectName(u"tempoSpin"_s);
    m_tempo->setAccessibleName(u"テンポ"_s);
    m_tempo->setRange(SongEdits::MinTempo, SongEdits::MaxTempo);
    m_tempo->setSuffix(u" %"_s);
    stretchForm->addRow(u"キー"_s, m_key);
    stretchForm->addRow(u"テンポ"_s, m_tempo);
    connect(m_key, &QSpinBox::valueChanged, this, &SongEditsPanel::readControls);
    connect(m_tempo, &QSpinBox::valueChanged, this, &SongEditsPanel::readControls);
    if (!RealtimeStretch::available()) {
        // Without the library the song could be neither heard nor delivered
        // moved: the controls stay at the song's own key and tempo.
        m_key->setEnabled(false);
        m_tempo->setEnabled(false);
        auto *why = new QLabel(u"このビルドにはキーとテンポを変える機能（Rubber Band）が含まれていないため、"
                               u"キーとテンポは変えられません。"_s,
                               stretch);
        why->setObjectName(u"stretchUnavailableLabel"_s);
        why->setAccessibleName(why->text());
        why->setWordWrap(true);
        stretchForm->addRow(why);
    }
    layout->addWidget(stretch);

    m_length = new QLabel(this);
    m_length->setObjectName(u"editedLengthLabel"_s);
    m_length->setAccessibleName(u"編集後の長さ"_s);
    QFont bold = m_length->font();
    bold.setBold(true);
    m_length->setFont(bold);
    layout->addWidget(m_length);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(u"editButtons"_s);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(u"okButton"_s);
    buttons->button(QDialogButtonBox::Ok)->setAccessibleName(u"OK"_s);
    buttons->button(QDialogButtonBox::Cancel)->setText(u"キャンセル"_s);
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(u"cancelButton"_s);
    buttons->button(QDialogButtonBox::Cancel)->setAccessibleName(u"キャンセル"_s);
    QPushButton *clear = button(u"編集を消す"_s, "clearEditsButton");
    buttons->addButton(clear, QDialogButtonBox::ResetRole);
    QPushButton *undo = button(u"元に戻す"_s, "undoEditButton");
    undo->setShortcut(QKeySequence::Undo);
    undo->setToolTip(u"直前の変更を取り消します（Ctrl+Z）"_s);
    buttons->addButton(undo, QDialogButtonBox::ResetRole);
    connect(undo, &QPushButton::clicked, this, [this] {
        if (m_undo.isEmpty())
            return;
        m_undoing = true;
        m_edits = m_undo.takeLast();
        showEdits();
        m_undoing = false;
    });
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        readControls();
        accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(clear, &QPushButton::clicked, this, [this] {
        m_edits = SongEdits{};
        showEdits();
    });
    layout->addWidget(buttons);

    m_tick = new QTimer(this);
    m_tick->setInterval(PanelTickMs);
    connect(m_tick, &QTimer::timeout, this, &SongEditsPanel::showPosition);
    showPosition();
}

void SongEditsPanel::showEdits()
{
    m_showing = true;
    m_start->setText(m_edits.startMs > 0 ? timeText(m_edits.startMs) : QString());
    m_end->setText(m_edits.endMs ? timeText(*m_edits.endMs) : QString());
    m_fadeIn->setValue(double(m_edits.fadeInMs) / 1000.0);
    m_fadeOut->setValue(double(m_edits.fadeOutMs) / 1000.0);
    m_cuts->clear();
    for (const SongEdits::Cut &c : std::as_const(m_edits.cuts))
        m_cuts->addItem(timeText(c.fromMs) + u" – "_s + timeText(c.toMs));
    m_key->setValue(m_edits.semitones);
    m_tempo->setValue(m_edits.tempoPercent);
    m_showing = false;
    showLength();
}

void SongEditsPanel::readControls()
{
    if (m_showing)
        return;
    // A time that reads as none keeps the point it had; its field shows so.
    const auto read = [](QLineEdit *edit, std::optional<qint64> fallback) -> std::optional<qint64> {
        if (edit->text().trimmed().isEmpty()) {
            edit->setStyleSheet(QString());
            return std::nullopt;
        }
        const auto ms = msOfTime(edit->text());
        edit->setStyleSheet(ms ? QString() : u"background: #ffd0d0;"_s);
        return ms ? ms : fallback;
    };
    m_edits.startMs = read(m_start, m_edits.startMs).value_or(0);
    m_edits.endMs = read(m_end, m_edits.endMs);
    m_edits.fadeInMs = qint64(std::llround(m_fadeIn->value() * 1000));
    m_edits.fadeOutMs = qint64(std::llround(m_fadeOut->value() * 1000));
    m_edits.semitones = m_key->value();
    m_edits.tempoPercent = m_tempo->value();
    showLength();
}

void SongEditsPanel::showLength()
{
    const qint64 edited = m_edits.editedMs(m_songMs);
    // Shown as the set list shows lengths, so the two read the same.
    m_length->setText(u"編集後の長さ %1（%2）"_s.arg(FormatLength(double(edited)), timeText(edited)));
    m_view->setEdits(m_edits, m_songMs);
    // Every change that reaches here can be taken back, one at a time; a drag
    // on the picture is one change, made when it is let go.
    if (m_view->isDragging())
        return;
    if (m_edits != m_shownEdits && !m_undoing && m_built)
        m_undo.append(m_shownEdits);
    m_shownEdits = m_edits;
}

qint64 SongEditsPanel::sourcePositionMs() const
{
    if (!m_playing)
        return 0;
    const qint64 at = m_playing->positionMs();
    if (!m_playingEdited)
        return at;
    // The edited song's time back to the song's own, laid out in milliseconds.
    const EditPlan plan(m_playingEdits.fitted(m_songMs), m_songMs, 1000);
    return plan.sourceFrame(plan.joinedOfOutput(at));
}

void SongEditsPanel::showPosition()
{
    m_view->setPlayhead(m_playing ? std::optional(sourcePositionMs()) : std::nullopt);
    if (!m_playing) {
        m_position->setText(u"停止中"_s);
        return;
    }
    const qint64 at = m_playing->positionMs();
    m_position->setText(m_playingEdited ? u"編集後 %1（原曲 %2）"_s.arg(timeText(at), timeText(sourcePositionMs()))
                                        : u"原曲 %1"_s.arg(timeText(at)));
}

void SongEditsPanel::listen(bool edited, qint64 fromMs)
{
    readControls();
    m_playingEdits = edited ? m_edits : SongEdits{};
    m_playingEdited = edited && !m_edits.isEmpty();
    // A song of the panel's own: the same file playing in the preview or
    // elsewhere in the set is another song.
    m_playing = m_playback->open({ m_path, m_playingEdits, m_songMs });
    if (!m_playing)
        return;
    m_playing->seek(fromMs);
    m_playing->play();
    m_tick->start();
    showPosition();
}

void SongEditsPanel::stop()
{
    if (!m_playing)
        return;
    m_playing.reset();
    m_tick->stop();
    showPosition();
}

void SongEditsPanel::seekBy(qint64 ms)
{
    if (!m_playing)
        return;
    m_playing->seek(std::max<qint64>(0, m_playing->positionMs() + ms));
    showPosition();
}

void SongEditsPanel::trimSilence()
{
    QString reason;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto bounds = AudibleBounds::find(m_path, PanelSilenceDb, &reason);
    QApplication::restoreOverrideCursor();
    if (!bounds) {
        m_boxes->inform(this, u"無音を調べられませんでした: "_s + reason, u"お知らせ"_s);
        return;
    }
    const qint64 tail = std::max<qint64>(0, m_songMs - bounds->lastMs);
    m_silence->setText(u"頭 %1 秒・終わり %2 秒の無音"_s.arg(double(bounds->firstMs) / 1000.0, 0, 'f', 2)
                           .arg(double(tail) / 1000.0, 0, 'f', 2));
    m_edits.startMs = bounds->firstMs;
    m_edits.endMs = bounds->lastMs < m_songMs ? std::optional(bounds->lastMs) : std::nullopt;
    showEdits();
}

void SongEditsPanel::addCut()
{
    const auto from = msOfTime(m_cutFrom->text()), to = msOfTime(m_cutTo->text());
    if (!from || !to || *to <= *from) {
        m_boxes->inform(this, u"切り取る区間の始まりと、それより後の終わりを入れてください"_s, u"お知らせ"_s);
        return;
    }
    m_edits.cuts.append({ *from, *to });
    // Sorted and merged where they meet, as they will be played; a cut that
    // reaches the start or the end becomes the new start or end.
    const SongEdits fitted = m_edits.fitted(m_songMs);
    m_edits.cuts = fitted.cuts;
    m_edits.startMs = fitted.startMs;
    m_edits.endMs = fitted.endMs;
    m_cutFrom->clear();
    m_cutTo->clear();
    showEdits();
}

void SongEditsPanel::removeCut()
{
    const int row = m_cuts->currentRow();
    if (row < 0 || row >= m_edits.cuts.size())
        return;
    m_edits.cuts.removeAt(row);
    showEdits();
}

SetListRowExtras SongEditsPanel::rowExtras() const
{
    SetListRowExtras extras = m_extras;
    extras.edits = m_edits.fitted(m_songMs);
    extras.edits.stamp = m_extras.edits.stamp;
    // A song without anything to change keeps no edits at all.
    if (extras.edits.isEmpty())
        extras.edits = SongEdits{};
    return extras;
}

void SongEditsPanel::done(int result)
{
    stop();
    QDialog::done(result);
}
