#include "forms/show/showwindow.h"

#include "forms/waveform/waveformslider.h"
#include "platform/audio/peaks/peakscan.h"

#include "model/showresume.h"
#include "platform/audio/player/songcheck.h"
#include "platform/desktop/messageboxes.h"
#include "platform/desktop/sleepguard.h"
#include "platform/media/playbackcontrol.h"
#include "platform/storage/setliststorage.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

// Often enough that a song's end, a following song and the clocks are late by
// a tenth of a second at most; GO itself never waits for it.
constexpr int TickMs = 100;
constexpr qint64 SayMs = 2500;
// After a GO the song just started has the processor to itself for a moment:
// decoding the next song ahead, or writing where the show stands, waits this long.
constexpr qint64 SettleMs = 300;
constexpr qint64 FlashMs = 500;
using Role = ShowKeys::Role;

// The line check: 1 kHz at -20 dBFS for a second, the level a desk's meter
// reads as the reference, as a 48 kHz stereo WAV.
bool writeTestTone(const QString &path)
{
    constexpr int Rate = 48000;
    constexpr int Frames = Rate;
    const auto word = [](QByteArray &out, quint32 v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.append(char((v >> (8 * i)) & 0xff));
    };
    QByteArray wav = "RIFF";
    word(wav, 36 + Frames * 4, 4);
    wav += "WAVEfmt ";
    word(wav, 16, 4);
    word(wav, 1, 2);
    word(wav, 2, 2);
    word(wav, Rate, 4);
    word(wav, Rate * 4, 4);
    word(wav, 4, 2);
    word(wav, 16, 2);
    wav += "data";
    word(wav, Frames * 4, 4);
    const double amplitude = 32767.0 * std::pow(10.0, -20.0 / 20.0);
    for (int i = 0; i < Frames; ++i) {
        const auto sample = qint16(std::lround(amplitude * std::sin(2 * std::numbers::pi * 1000.0 * i / Rate)));
        word(wav, quint16(sample), 2);
        word(wav, quint16(sample), 2);
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(wav) == wav.size();
}

QString firstFreeName(const QString &path)
{
    const QFileInfo info(path);
    QString candidate = path;
    for (int n = 2; QFileInfo::exists(candidate); ++n)
        candidate = info.path() + u'/' + info.completeBaseName() + u" (%1)."_s.arg(n) + info.suffix();
    return candidate;
}

} // namespace

ShowWindow::ShowWindow(Setup setup, PlaybackControl *playback, MessageBoxes *boxes, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_setup(std::move(setup))
    , m_playback(playback)
    , m_boxes(boxes)
    , m_run(m_setup.songs, m_setup.pauseMs, m_setup.slotMs, m_setup.from)
{
    setObjectName(u"showWindow"_s);
    setWindowTitle(u"本番モード - "_s + m_setup.title);
    setAccessibleName(u"本番モード"_s);
    QPalette dark = palette();
    dark.setColor(QPalette::Window, Qt::black);
    dark.setColor(QPalette::WindowText, Qt::white);
    dark.setColor(QPalette::Base, Qt::black);
    dark.setColor(QPalette::Text, Qt::white);
    setPalette(dark);
    setAutoFillBackground(true);
    // Every key is the window's own: no button or box may take Space or Enter.
    setFocusPolicy(Qt::StrongFocus);

    auto *layout = new QVBoxLayout(this);
    m_banner = addLabel("showBanner", u"警告"_s);
    m_banner->setStyleSheet(u"background: #c00000; color: white; font-weight: bold;"_s);
    m_banner->hide();
    m_song = addLabel("showSong", u"演奏中の曲"_s);
    m_songLeft = addLabel("showSongLeft", u"曲の残り時間"_s);
    // The song playing as a thin outline with its position: the ending is seen coming.
    m_overview = new WaveformSlider(this);
    m_overview->setObjectName(u"showOverview"_s);
    m_overview->setAccessibleName(u"演奏中の曲の波形と位置"_s);
    m_overview->setFocusPolicy(Qt::NoFocus);
    m_overview->setAttribute(Qt::WA_TransparentForMouseEvents);
    // Its room is kept while it is hidden: the figures never move under the performer's eyes.
    QSizePolicy keep = m_overview->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    m_overview->setSizePolicy(keep);
    m_overview->hide();
    m_next = addLabel("showNext", u"次の曲"_s);
    m_note = addLabel("showNote", u"次の曲のメモ"_s);
    m_note->setStyleSheet(u"color: #80d0ff;"_s);
    auto *figures = new QHBoxLayout;
    m_slotLeft = addLabel("showSlotLeft", u"持ち時間の残り"_s);
    m_plan = addLabel("showPlan", u"予定との差"_s);
    figures->addWidget(m_slotLeft, 1);
    figures->addWidget(m_plan, 1);
    m_message = addLabel("showMessage", u"お知らせ"_s);
    m_record = new QPlainTextEdit(this);
    m_record->setObjectName(u"showRecord"_s);
    m_record->setAccessibleName(u"本番の記録"_s);
    m_record->setReadOnly(true);
    m_record->setFocusPolicy(Qt::NoFocus);
    m_record->hide();
    m_close = new QPushButton(u"閉じる"_s, this);
    m_close->setObjectName(u"showClose"_s);
    m_close->setAccessibleName(u"本番モードを閉じる"_s);
    m_close->setFocusPolicy(Qt::NoFocus);
    m_close->hide();
    connect(m_close, &QPushButton::clicked, this, &QWidget::close);
    // Ending the show is a click, never a key: the performer's hands are on the GO keys.
    m_end = new QPushButton(u"本番を終了"_s, this);
    m_end->setObjectName(u"showEnd"_s);
    m_end->setAccessibleName(u"本番を終了する"_s);
    m_end->setFocusPolicy(Qt::NoFocus);
    connect(m_end, &QPushButton::clicked, this, &ShowWindow::endByButton);
    m_checkLabel = addLabel("showCheck", u"本番前の確認"_s);
    m_checkLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_tone = new QPushButton(u"テストトーン（1 kHz）"_s, this);
    m_tone->setObjectName(u"showTone"_s);
    m_tone->setAccessibleName(u"テストトーンを鳴らす（1 kHz、-20 dBFS、1 秒）"_s);
    m_tone->setFocusPolicy(Qt::NoFocus);
    connect(m_tone, &QPushButton::clicked, this, &ShowWindow::playTone);
    m_learn = new QPushButton(u"キーを覚える"_s, this);
    m_learn->setObjectName(u"showLearnKey"_s);
    m_learn->setAccessibleName(u"次に押すキーを GO キーとして覚える"_s);
    m_learn->setFocusPolicy(Qt::NoFocus);
    connect(m_learn, &QPushButton::clicked, this, [this] {
        m_learning = true;
        say(u"GO にするキー（ペダルなど）を押してください。Esc で取り消し"_s, false);
        m_sayUntil = std::numeric_limits<qint64>::max();
    });
    auto *buttons = new QVBoxLayout;
    buttons->addWidget(m_tone);
    buttons->addWidget(m_learn);
    buttons->addStretch();
    auto *check = new QHBoxLayout;
    check->addWidget(m_checkLabel, 1);
    check->addLayout(buttons);

    layout->addWidget(m_banner);
    layout->addWidget(m_song);
    layout->addWidget(m_songLeft, 3);
    layout->addWidget(m_overview);
    layout->addWidget(m_next);
    layout->addWidget(m_note);
    layout->addLayout(figures);
    layout->addWidget(m_message);
    layout->addLayout(check);
    layout->addWidget(m_record, 4);
    layout->addWidget(m_close, 0, Qt::AlignRight);
    layout->addWidget(m_end, 0, Qt::AlignRight);

    m_clock.start();
    // Taken up again after a restart: the slot ran on from the first GO.
    if (m_setup.startedEpochMs > 0
        && m_run.goOn(now() - (QDateTime::currentMSecsSinceEpoch() - m_setup.startedEpochMs), m_setup.planFrom, now()))
        m_startedEpochMs = m_setup.startedEpochMs;
    m_tick = new QTimer(this);
    m_tick->setInterval(TickMs);
    connect(m_tick, &QTimer::timeout, this, &ShowWindow::tick);
    m_tick->start();
    m_playback->prepare();
    m_sleep = new SleepGuard(u"本番中"_s, this);
    QList<SongCheck::Song> songs;
    for (qsizetype i = m_setup.from; i < m_setup.songs.size(); ++i) {
        // An edited song is listed with its edited length; its file is checked
        // against the length it was measured with.
        const ShowRun::Song &song = m_setup.songs[i];
        const SetListRowExtras extras = m_setup.extras.value(i);
        songs.append({ song.path, song.name, !extras.edits.isEmpty() ? extras.songMs : song.lengthMs, extras.edits });
    }
    m_check = new SongCheck(songs, this);
    connect(m_check, &SongCheck::progressed, this, &ShowWindow::showCheck);
    connect(m_sleep, &SleepGuard::stateChanged, this, &ShowWindow::showCheck);
    tick();
}

// The songs it holds let go of themselves; a fade under way runs to its end.
ShowWindow::~ShowWindow() = default;

QLabel *ShowWindow::addLabel(const char *name, const QString &role)
{
    auto *label = new QLabel(this);
    label->setObjectName(QLatin1StringView(name));
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    label->setAccessibleName(role);
    m_roles.insert(label, role);
    return label;
}

void ShowWindow::setText(QLabel *label, const QString &text)
{
    if (label->text() == text)
        return;
    label->setText(text);
    // A screen reader reads the figure with what it is.
    label->setAccessibleName(m_roles.value(label) + u"　"_s + text);
}

void ShowWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // Sized by the screen, so that the figures read from two metres on a laptop.
    const int h = qMax(200, height());
    const auto size = [&](QWidget *w, double share, bool bold) {
        QFont font = w->font();
        font.setPixelSize(qMax(12, int(h * share)));
        font.setBold(bold);
        w->setFont(font);
    };
    size(m_banner, 0.05, true);
    size(m_song, 0.07, true);
    size(m_songLeft, m_finished ? 0.08 : 0.24, true);
    m_overview->setFixedHeight(qMax(30, int(h * 0.08)));
    size(m_next, 0.06, false);
    size(m_note, 0.05, true);
    size(m_slotLeft, 0.08, true);
    size(m_plan, 0.05, false);
    size(m_message, 0.03, false);
    size(m_checkLabel, 0.025, false);
    size(m_tone, 0.025, false);
    size(m_learn, 0.025, false);
    size(m_record, 0.025, false);
}

bool ShowWindow::event(QEvent *event)
{
    // Keys let go of elsewhere never come back as releases.
    if (event->type() == QEvent::WindowDeactivate)
        m_run.releaseAll();
    return QWidget::event(event);
}

void ShowWindow::focusOutEvent(QFocusEvent *event)
{
    m_run.releaseAll();
    QWidget::focusOutEvent(event);
}

void ShowWindow::keyPressEvent(QKeyEvent *event)
{
    if (m_learning && !event->isAutoRepeat()) {
        event->accept();
        learnKey(event->key());
        return;
    }
    const Role role = m_setup.keys.role(event->key());
    if (role == Role::None || event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    if (m_finished) {
        if (role == Role::Stop)
            close();
        return;
    }
    switch (role) {
    case Role::Go:
        go(event->key(), event->isAutoRepeat());
        break;
    case Role::Stop:
        if (!event->isAutoRepeat())
            stop();
        break;
    case Role::Back:
        if (!event->isAutoRepeat())
            back();
        break;
    case Role::None:
        break;
    }
    // The song after the one just started is armed by the tick once it has settled.
    armSelected();
    refresh();
}

void ShowWindow::learnKey(int key)
{
    const QString name = QKeySequence(key).toString(QKeySequence::NativeText);
    if (key == Qt::Key_Escape) {
        m_learning = false;
        say(u"キーを覚えるのを取り消しました"_s, false);
        return;
    }
    switch (m_setup.keys.teach(key)) {
    case ShowKeys::Teach::Taught:
        m_learning = false;
        say(u"「%1」を GO キーとして覚えました"_s.arg(name), false);
        Q_EMIT keysTaught(m_setup.keys);
        break;
    case ShowKeys::Teach::AlreadyGo:
        m_learning = false;
        say(u"「%1」はもう GO キーです"_s.arg(name), false);
        break;
    case ShowKeys::Teach::Reserved:
        // Still learning: the next key may be the one meant.
        say(u"「%1」は止める・戻るのキーなので GO にできません。ほかのキーを押してください"_s.arg(name), true);
        m_sayUntil = std::numeric_limits<qint64>::max();
        break;
    case ShowKeys::Teach::NotAKey:
        break;
    }
}

QString ShowWindow::hint() const
{
    QString go = u"Space / Enter / PageDown / →"_s;
    for (int key : m_setup.keys.taught())
        go += u" / "_s + QKeySequence(key).toString(QKeySequence::NativeText);
    return u"GO: %1　　止める: Esc（もう一度でカット）　　戻る: ← / PageUp / BackSpace　　終わるには「本番を終了」ボタン"_s.arg(go);
}

void ShowWindow::keyReleaseEvent(QKeyEvent *event)
{
    if (!event->isAutoRepeat())
        m_run.release(event->key());
    QWidget::keyReleaseEvent(event);
}

void ShowWindow::go(int key, bool autoRepeat)
{
    switch (m_run.go(now(), key, autoRepeat)) {
    case ShowRun::Go::Started:
        m_goAt = now();
        if (m_startedEpochMs == 0)
            m_startedEpochMs = QDateTime::currentMSecsSinceEpoch();
        // The line check ends where the show begins.
        stopTone();
        startPlaying();
        if (m_check)
            m_check->cancel();
        break;
    case ShowRun::Go::TooSoon:
        say(u"GO を無視しました（続けて押されたため）"_s, true);
        break;
    case ShowRun::Go::Held:
        say(u"GO を無視しました（キーを一度離してください）"_s, true);
        break;
    case ShowRun::Go::Playing:
        say(u"GO を無視しました（演奏中の曲は止めません。止めるには Esc）"_s, true);
        break;
    case ShowRun::Go::NoDevice:
        say(u"GO を無視しました（出力先がありません）"_s, true);
        break;
    case ShowRun::Go::Over:
        say(u"最後の曲まで終わりました。Esc で本番を終えます"_s, false);
        break;
    }
}

void ShowWindow::startPlaying()
{
    const ShowRun::Song song = *m_run.playing();
    const qsizetype index = song.row - 1;
    const qint64 from = m_run.record().constLast().fromMs;
    const bool armedThere = m_armed && m_armedIndex == index && m_armedFromMs == from;
    if (!armedThere)
        m_armed = open(index);
    m_playing = std::move(m_armed);
    m_armedIndex = -1;
    m_startHeard = false;
    if (!m_playing) {
        m_run.failed(now());
        say(u"「%1」を再生できませんでした。GO で次の曲へ進みます"_s.arg(song.name), true);
        return;
    }
    // A song that resumes starts where it was, before any of its start is heard.
    if (from > 0 && !armedThere)
        m_playing->seek(from);
    m_playing->play();
    const qint64 length = m_playing->lengthMs();
    m_playingLengthMs = length > 0 ? length : song.lengthMs;
    // Its outline, as its row's edits shape it: from the cache, or read beside it.
    m_outline = std::make_unique<PeakScan>(song.path, PeakScan::defaultRoot());
    const auto draw = [this, edits = m_setup.extras.value(index).edits] {
        if (m_outline)
            m_overview->setOutline(m_outline->peaks(), edits);
    };
    connect(m_outline.get(), &PeakScan::progressed, this, draw);
    connect(m_outline.get(), &PeakScan::finished, this, draw);
}

void ShowWindow::stop()
{
    const qint64 t = now();
    switch (m_run.stop(t, m_setup.fadeMs)) {
    case ShowRun::Stop::Fade:
        m_fading = std::move(m_playing);
        if (m_fading)
            m_fading->fadeOut(m_setup.fadeMs);
        say(u"フェードアウト中（もう一度 Esc ですぐに止めます）"_s, false);
        break;
    case ShowRun::Stop::Cut:
        if (m_fading)
            m_fading->fadeOut(0);
        m_fading.reset();
        say(u"止めました"_s, false);
        break;
    case ShowRun::Stop::FollowCancelled:
        say(u"自動で続く曲を止めました。GO で始めます"_s, false);
        break;
    case ShowRun::Stop::Nothing:
        // Esc never ends the show: the next key pressed may be a GO.
        say(m_run.isOver() ? u"最後の曲まで終わりました。終えるには「本番を終了」ボタンを押してください"_s
                           : u"止める曲はありません。本番を終えるには「本番を終了」ボタンを押してください"_s,
            false);
        break;
    }
}

void ShowWindow::back()
{
    if (m_run.back(now()))
        say(u"「%1」を頭から出せます（GO）"_s.arg(m_run.selected()->name), false);
    else
        say(u"演奏中は戻れません"_s, true);
    armSelected();
}

bool ShowWindow::askToEnd()
{
    // Only a click answers: a GO key pressed while the question is open must
    // not end the show, nor may one held down from before.
    m_run.releaseAll();
    return m_boxes->askByClick(this, u"本番を終了しますか？\n記録を書き出して本番モードを閉じる準備をします。"_s, u"確認"_s);
}

void ShowWindow::endByButton()
{
    if (!m_finished && askToEnd())
        finish();
}

void ShowWindow::tick()
{
    if (m_finished)
        return;
    const qint64 t = now();
    checkDevice();
    if (m_toneSong && m_toneSong->state() != PlaybackControl::State::Playing)
        stopTone();
    if (m_fading && !m_run.fading(t))
        m_fading.reset();
    if (m_playing) {
        // The record holds when the sound was there: the output plays a song a
        // moment after it is asked for, and its end is seen here only at a tick.
        using Edge = PlaybackControl::Edge;
        if (!m_startHeard) {
            if (const auto ago = m_playing->heardAgoMs(Edge::Start)) {
                m_run.sounded(t - *ago);
                m_startHeard = true;
            }
        }
        const auto state = m_playing->state();
        if (state == PlaybackControl::State::Ended) {
            const qint64 end = t - m_playing->heardAgoMs(Edge::End).value_or(0);
            m_playing.reset();
            m_run.ended(end);
        } else if (state == PlaybackControl::State::Interrupted) {
            interrupt(u"音の出力が途切れました（サウンドサーバーか出力先が止まりました）。"_s);
        } else if (state == PlaybackControl::State::Failed || state == PlaybackControl::State::Closed) {
            const qint64 at = m_playing->positionMs();
            m_playing.reset();
            const QString name = m_run.playing()->name;
            if (m_startHeard && state == PlaybackControl::State::Failed) {
                // Its file stopped reading part-way: the song is over where it broke.
                m_run.brokeOff(t, at);
                say(u"「%1」は %2 から先を読めず、途切れました（曲のファイルを読めません）。GO で次の曲へ進みます"_s.arg(
                        name, ShowRun::clockText(at)),
                    true);
                m_sayUntil = std::numeric_limits<qint64>::max();
            } else {
                m_run.failed(t);
                say(u"「%1」を再生できませんでした。GO で次の曲へ進みます"_s.arg(name), true);
            }
        }
    }
    if (m_run.due(t))
        startPlaying();
    armSelected();
    refresh();
}

void ShowWindow::interrupt(const QString &why)
{
    if (m_run.playing()) {
        const qint64 at = m_playing ? m_playing->positionMs() : 0;
        m_playing.reset();
        m_run.interrupted(now(), at);
        say(why + u"GO で「%1」を %2 から続けます"_s.arg(m_run.selected()->name, ShowRun::clockText(at)), true);
        m_sayUntil = std::numeric_limits<qint64>::max();
    }
    // A fade cut off with the output is over: nothing of it sounds when the
    // output comes back, and the screen says 曲間 rather than a fade.
    if (m_fading && m_run.fading(now()))
        (void)m_run.stop(now(), m_setup.fadeMs);
    m_fading.reset();
    m_armed.reset();
    m_armedIndex = -1;
}

void ShowWindow::armSelected()
{
    if (now() - m_goAt < SettleMs)
        return;
    const qsizetype index = m_run.selected() && !m_deviceMissing ? m_run.selectedIndex() : -1;
    if (index == m_armedIndex)
        return;
    m_armed.reset();
    m_armedIndex = index;
    // Only armed: moving a song starts it, and nothing starts without a GO.
    if (index >= 0)
        m_armed = open(index);
    m_armedFromMs = m_run.resumeMs();
}

std::unique_ptr<PlayingSong> ShowWindow::open(qsizetype index) const
{
    // The song sounds as its own row shapes it, as the export delivers it: the
    // same file on two rows is two songs.
    const ShowRun::Song &song = m_setup.songs.at(index);
    const SetListRowExtras extras = m_setup.extras.value(index);
    PlaybackControl::Song wanted{ song.path };
    if (!extras.edits.isEmpty()) {
        wanted.edits = extras.edits;
        wanted.songMs = extras.songMs;
    }
    wanted.gain = m_setup.gains.value(song.path, 1.0f);
    // A song that goes on where it stopped is decoded from there before its GO.
    if (index == m_run.selectedIndex())
        wanted.fromMs = m_run.resumeMs();
    return m_playback->open(wanted);
}

void ShowWindow::checkDevice()
{
    const QByteArray chosen = m_playback->outputDevice();
    bool missing = false;
    if (!chosen.isEmpty()) {
        const QList<PlaybackControl::OutputDevice> devices = m_playback->outputDevices();
        missing = std::none_of(devices.cbegin(), devices.cend(), [&](const auto &d) { return d.id == chosen; });
    }
    // The sound server gone (or restarting): the player opens the output again
    // once it is back.
    const bool lost = !missing && !m_playback->isOutputOpen();
    if (missing == m_deviceMissing && lost == m_outputLost)
        return;
    // The player is told too: the sound server moves the stream of a device
    // that went away to its default, perhaps the hall's speakers, and its
    // notice of the change may come late or never.
    if (missing != m_deviceMissing)
        m_playback->setOutputDevice(chosen);
    m_deviceMissing = missing;
    m_outputLost = lost;
    m_run.setDeviceMissing(missing || lost);
    if (!missing && !lost) {
        m_banner->hide();
        say(u"音の出力が戻りました。GO で続けます"_s, false);
        return;
    }
    // The sound server would carry on through another device, perhaps the
    // hall's: the song stops here and goes on from where it was at the next GO.
    interrupt(QString());
    setText(m_banner, missing ? u"出力先「%1」が見つかりません。つなぎ直すと GO で続けられます（位置は保っています）"_s
                                    .arg(QString::fromUtf8(chosen))
                              : u"音の出力がありません（サウンドサーバーが止まっています）。戻ると GO で続けられます（位置は保っています）"_s);
    m_banner->show();
}

void ShowWindow::refresh()
{
    const qint64 t = now();
    qint64 position = 0;
    if (const auto song = m_run.playing()) {
        position = m_playing ? m_playing->positionMs() : 0;
        setText(m_song, song->name);
        setText(m_songLeft, u"残り "_s + ShowRun::clockText(qMax<qint64>(0, m_playingLengthMs - position)));
        m_overview->setRange(0, int(qMin<qint64>(m_playingLengthMs, std::numeric_limits<int>::max())));
        m_overview->setValue(int(std::clamp<qint64>(position, 0, m_overview->maximum())));
        m_overview->setVisible(m_overview->hasOutline());
    } else if (const auto fading = m_run.fading(t)) {
        setText(m_song, fading->name + u"（フェードアウト中）"_s);
        setText(m_songLeft, QString());
    } else {
        setText(m_song, m_run.hasStarted() ? u"曲間"_s : u"開始前"_s);
        setText(m_songLeft, m_run.selected() ? u"GO 待ち"_s : QString());
    }
    if (!m_run.playing() && m_outline) {
        m_outline.reset();
        m_overview->setOutline(std::nullopt);
        m_overview->hide();
    }

    if (const auto next = m_run.selected()) {
        QString text = u"次: "_s + next->name;
        if (m_run.resumeMs() > 0)
            text += u"（%1 から）"_s.arg(ShowRun::clockText(m_run.resumeMs()));
        if (next->follows)
            text += u"（自動で続く）"_s;
        setText(m_next, text);
        setText(m_note, next->note.isEmpty() ? QString() : u"メモ: "_s + next->note);
    } else {
        setText(m_next, u"次: なし（最後の曲）"_s);
        setText(m_note, QString());
    }

    const ShowRun::Clock clock = m_run.clock(t, position);
    if (clock.slotLeftMs) {
        const qint64 left = *clock.slotLeftMs;
        setText(m_slotLeft, left < 0 ? u"持ち時間 超過 "_s + ShowRun::clockText(-left)
                                     : u"持ち時間 残り "_s + ShowRun::clockText(left));
    } else {
        setText(m_slotLeft, u"持ち時間 未設定"_s);
    }
    QString style;
    switch (clock.level) {
    case ShowRun::Level::Normal:
        break;
    case ShowRun::Level::Amber:
        style = u"color: #ffbf00;"_s;
        break;
    case ShowRun::Level::Red:
        style = u"color: #ff2020;"_s;
        break;
    case ShowRun::Level::Over:
        style = (t / FlashMs) % 2 ? u"color: white; background: #d00000;"_s : u"color: #ff2020;"_s;
        break;
    }
    if (m_slotLeft->styleSheet() != style)
        m_slotLeft->setStyleSheet(style);

    QString plan = clock.behindMs >= 1000   ? u"予定より "_s + ShowRun::clockText(clock.behindMs) + u" 遅れ"_s
        : clock.behindMs <= -1000           ? u"予定より "_s + ShowRun::clockText(-clock.behindMs) + u" 早い"_s
                                            : u"予定どおり"_s;
    if (clock.spareMs)
        plan += *clock.spareMs < 0 ? u"\n終了見込み 超過 "_s + ShowRun::clockText(-*clock.spareMs)
                                   : u"\n終了見込み 残り "_s + ShowRun::clockText(*clock.spareMs);
    setText(m_plan, plan);
    if (t >= m_sayUntil) {
        setText(m_message, hint());
        m_message->setStyleSheet(QString());
    }
    showCheck();
    saveState();
}

void ShowWindow::showCheck()
{
    // The check is for before the show; once it runs, the song is what counts.
    if (m_run.hasStarted() || m_finished) {
        m_checkLabel->hide();
        m_tone->hide();
        m_learn->hide();
        m_learning = false;
        return;
    }
    QStringList problems = m_check->problems();
    const QByteArray chosen = m_playback->outputDevice();
    if (m_deviceMissing)
        problems << u"出力先「%1」が見つかりません"_s.arg(QString::fromUtf8(chosen));
    else if (chosen.isEmpty() && m_playback->outputDevices().isEmpty())
        problems << u"音の出力先がありません"_s;
    if (m_sleep->state() == SleepGuard::State::Refused)
        problems << u"画面の消灯とスリープを止められませんでした（%1）。電源の設定で止めてください"_s.arg(m_sleep->detail());
    QStringList lines;
    if (!m_check->isDone())
        lines << u"曲を確認しています…（%1 / %2 曲）"_s.arg(m_check->checked()).arg(m_check->total());
    else if (problems.isEmpty())
        lines << u"確認しました: すべての曲（%1 曲）が最後まで再生でき、長さも一覧どおりです。出力先もあります。"_s.arg(m_check->total());
    if (!problems.isEmpty())
        lines << u"確認で見つかった問題:"_s;
    for (const QString &p : std::as_const(problems))
        lines << u"・"_s + p;
    lines << u"テストトーンで音の出口を確かめられます。"_s;
    setText(m_checkLabel, lines.join(u'\n'));
    const QString style = problems.isEmpty() ? QString() : u"color: black; background: #ffbf00;"_s;
    if (m_checkLabel->styleSheet() != style)
        m_checkLabel->setStyleSheet(style);
    m_tone->setEnabled(!m_deviceMissing);
}

void ShowWindow::playTone()
{
    if (m_run.hasStarted() || m_finished || m_deviceMissing)
        return;
    if (m_tonePath.isEmpty()) {
        m_toneDir = std::make_unique<QTemporaryDir>();
        const QString path = m_toneDir->filePath(u"テストトーン.wav"_s);
        if (!m_toneDir->isValid() || !writeTestTone(path)) {
            say(u"テストトーンを用意できませんでした"_s, true);
            return;
        }
        m_tonePath = path;
    }
    // Pressed again: from the start.
    stopTone();
    m_toneSong = m_playback->open({ m_tonePath });
    if (m_toneSong)
        m_toneSong->play();
    say(m_toneSong ? u"テストトーン: 1 kHz、-20 dBFS、1 秒"_s : u"テストトーンを鳴らせませんでした"_s, !m_toneSong);
}

void ShowWindow::stopTone()
{
    m_toneSong.reset();
}

void ShowWindow::saveState()
{
    if (m_setup.statePath.isEmpty() || !m_run.hasStarted() || m_finished || m_run.selectedIndex() == m_savedNext
        || now() - m_goAt < SettleMs)
        return;
    m_savedNext = m_run.selectedIndex();
    if (m_savedNext >= m_setup.songs.size()) {
        // The last song is playing: after it there is nothing to go on with.
        QFile::remove(m_setup.statePath);
        return;
    }
    const ShowResume state = stateAt(m_savedNext);
    // Best effort: the show goes on whether or not it can be kept.
    (void)SetListStorage::write(m_setup.statePath, state.toText());
}

void ShowWindow::say(const QString &text, bool warning)
{
    setText(m_message, text);
    // An ignored GO stands out, so the performer knows the key was heard.
    m_message->setStyleSheet(warning ? u"color: black; background: #ffbf00;"_s : QString());
    m_sayUntil = now() + SayMs;
}

void ShowWindow::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_tick->stop();
    stopTone();
    // Ended as the performer meant: nothing to go on with after a restart, and
    // the system may sleep again. Where it stood is kept apart, for a show
    // ended by mistake to be opened again at that song.
    saveEnded();
    if (!m_setup.statePath.isEmpty())
        QFile::remove(m_setup.statePath);
    delete std::exchange(m_sleep, nullptr);
    delete std::exchange(m_check, nullptr);
    m_checkLabel->hide();
    m_tone->hide();
    m_learn->hide();
    // Ended while a song plays (the window closed): it fades as Esc would.
    if (m_run.playing() && m_run.stop(now(), m_setup.fadeMs) == ShowRun::Stop::Fade && m_playing) {
        m_fading = std::move(m_playing);
        m_fading->fadeOut(m_setup.fadeMs);
    }
    m_playing.reset();
    m_armed.reset();
    m_armedIndex = -1;
    const QString text = m_setup.title + u'\n' + m_run.recordText(now());
    QString report = text;
    const QString target = firstFreeName(m_setup.recordPath);
    if (const auto failure = SetListStorage::write(target, text.toUtf8()))
        report += u"\n記録を保存できませんでした。\n保存先: %1\n理由: %2"_s.arg(target, *failure);
    else
        m_recordFile = target;
    setText(m_song, u"本番終了"_s);
    setText(m_songLeft, QString());
    m_songLeft->hide();
    m_next->hide();
    m_note->hide();
    setText(m_message, m_recordFile.isEmpty() ? u"記録を保存できませんでした"_s
                                              : u"記録を保存しました: "_s + m_recordFile);
    m_message->setStyleSheet(m_recordFile.isEmpty() ? u"color: black; background: #ffbf00;"_s : QString());
    m_record->setPlainText(report);
    m_record->show();
    m_close->show();
    m_end->hide();
}

ShowResume ShowWindow::stateAt(qsizetype next) const
{
    ShowResume state;
    state.setListFile = m_setup.setListFile;
    state.setName = m_setup.title;
    for (const ShowRun::Song &song : std::as_const(m_setup.songs))
        state.songs.append(song.path);
    // Also for a saved set: changes made to it since it was saved are in no file.
    state.extras = m_setup.extras;
    state.slotKept = true;
    state.slotSeconds = m_setup.slotMs ? std::optional(*m_setup.slotMs / 1000) : std::nullopt;
    state.pauseSeconds = m_setup.pauseMs / 1000;
    state.next = next;
    state.planFrom = qMin(m_run.planFrom(), next);
    state.startedMs = m_startedEpochMs;
    return state;
}

void ShowWindow::saveEnded()
{
    if (m_setup.endedPath.isEmpty() || !m_run.hasStarted())
        return;
    // The song that played when it ended, else the one that was next.
    qsizetype next = m_run.selectedIndex();
    if (const auto playing = m_run.playing())
        next = playing->row - 1;
    if (next < 0 || next >= m_setup.songs.size()) {
        QFile::remove(m_setup.endedPath);
        return;
    }
    const ShowResume state = stateAt(next);
    (void)SetListStorage::write(m_setup.endedPath, state.toText());
}

void ShowWindow::closeEvent(QCloseEvent *event)
{
    if (!m_finished) {
        if (!askToEnd()) {
            event->ignore();
            return;
        }
        finish();
    }
    event->accept();
    Q_EMIT closed();
}
