#include "forms/preview/previewcontroller.h"

#include "forms/main/form1.h"
#include "forms/preview/previewbar.h"
#include "forms/slotstatusbar.h"
#include "model/slotfigures.h"
#include "model/songtable.h"
#include "platform/desktop/messageboxes.h"
#include "platform/audio/peaks/peakscan.h"
#include "platform/audio/player/realtimestretch.h"
#include "platform/media/playbackcontrol.h"
#include "platform/storage/settingsfile.h"

#include <QAction>
#include <QActionGroup>
#include <QLabel>
#include <QMenu>
#include <QTimer>

#include <algorithm>
#include <functional>

using namespace Qt::StringLiterals;

namespace {

// Kept beside the folder settings, one value a file, like them.
const QString OutputStoreName = u"outputdata.dat"_s;
// Often enough for the clock and the seek bar to move smoothly, and for the
// pause between songs to last what it says within a tenth of a second.
constexpr int TickMs = 100;
constexpr qint64 StepMs = 5000;
constexpr qint64 EndingMs = 15000;

} // namespace

PreviewController::PreviewController(Form1 *form, PlaybackControl *playback, MessageBoxes *boxes, QWidget *host,
                                     const SlotStatusBar *slot)
    : QObject(host)
    , m_form(form)
    , m_playback(playback)
    , m_boxes(boxes)
    , m_host(host)
    , m_slot(slot)
{
    m_menu = new QMenu(u"再生(&P)"_s, host);
    m_menu->setObjectName(u"playMenu"_s);
    QAction *playSetList = addEntry(u"セットリストの曲を再生"_s, QKeySequence(Qt::Key_F5));
    playSetList->setObjectName(u"playSetListAction"_s);
    connect(playSetList, &QAction::triggered, m_form, &Form1::playSetListSong);
    m_runThroughAction = addEntry(u"通し再生（選択行から最後まで）"_s, QKeySequence(Qt::Key_F6));
    m_runThroughAction->setObjectName(u"runThroughAction"_s);
    connect(m_runThroughAction, &QAction::triggered, this, &PreviewController::startRunThrough);
    m_menu->addSeparator();

    // Bound only while a song plays, so that at other times these keys are the
    // tables' and the buttons' as always; a text box being edited keeps them.
    const struct
    {
        QString text;
        QKeySequence key;
        const char *name;
        std::function<void()> run;
    } keys[] = {
        { u"再生終了"_s, QKeySequence(Qt::Key_Space), "stopAction", [this] { m_form->stopPreview(); } },
        { u"5 秒戻す"_s, QKeySequence(Qt::Key_Left), "backAction", [this] { seekTo(positionMs() - StepMs); } },
        { u"5 秒進める"_s, QKeySequence(Qt::Key_Right), "onAction", [this] { seekTo(positionMs() + StepMs); } },
        { u"最後の 15 秒へ"_s, QKeySequence(Qt::Key_End), "endingAction", [this] { seekTo(m_lengthMs - EndingMs); } },
    };
    for (const auto &key : keys) {
        QAction *action = addEntry(key.text, key.key);
        action->setObjectName(QLatin1StringView(key.name));
        connect(action, &QAction::triggered, this, key.run);
        m_whilePlaying.append(action);
    }
    m_menu->addSeparator();
    m_outputMenu = m_menu->addMenu(u"出力先"_s);
    m_outputMenu->setObjectName(u"outputMenu"_s);
    connect(m_outputMenu, &QMenu::aboutToShow, this, &PreviewController::rebuildOutputMenu);

    m_bar = new PreviewBar(host);
    connect(m_bar, &PreviewBar::seekRequested, this, &PreviewController::seekTo);
    m_runClock = new QLabel(host);
    m_runClock->setObjectName(u"runThroughClock"_s);
    m_runClock->setToolTip(u"通し再生で経過したセットの時間（曲間を含む）と、持ち時間の残り"_s);
    m_runClock->hide();
    m_tick = new QTimer(this);
    m_tick->setInterval(TickMs);
    connect(m_tick, &QTimer::timeout, this, &PreviewController::tick);
    connect(m_form, &Form1::availabilityChanged, this, &PreviewController::availabilityChanged);
    connect(m_form, &Form1::songStarted, this, [this](const SongEdits &edits) {
        m_outputWasPresent = outputPresent();
        m_lengthPath.clear(); // the same file may play with other edits
        // A change the song is not heard with is said as it starts, not found out on stage.
        if (const QString unheard = RealtimeStretch::unheardReason(edits); !unheard.isEmpty())
            Q_EMIT message(unheard);
        showOutline(edits);

        // Another song started by hand takes over from the run-through.
        if (!m_runStartingSong && m_run) {
            endRun();
            availabilityChanged();
        }
    });
    connect(m_form, &Form1::previewStopped, this, [this] {
        endRun();
        availabilityChanged();
    });
    restoreOutput();
    // The output opens with the window, so that the first song sounds at once.
    m_playback->prepare();
    availabilityChanged();
}

// A song's outline still being made is let go of with the window.
PreviewController::~PreviewController() = default;

QAction *PreviewController::addEntry(const QString &text, const QKeySequence &key)
{
    auto *action = new QAction(text, m_host);
    action->setShortcut(key);
    m_menu->addAction(action);
    return action;
}

void PreviewController::availabilityChanged()
{
    const bool playing = m_form->isPlaying();
    for (QAction *action : std::as_const(m_whilePlaying))
        action->setEnabled(playing);
    m_runThroughAction->setEnabled(!m_run);
    if (playing && !m_tick->isActive())
        m_tick->start();
    if (!playing) {
        m_tick->stop();
        m_bar->showIdle();
        m_outline.reset();
    }
}

void PreviewController::showOutline(const SongEdits &edits)
{
    const QString path = m_form->songPath();
    m_outlineEdits = edits;
    const auto draw = [this] {
        if (m_outline)
            m_bar->showOutline(m_outline->peaks(), m_outlineEdits);
    };
    if (!m_outline || m_outline->path() != path) {
        m_outline = std::make_unique<PeakScan>(path, PeakScan::defaultRoot());
        connect(m_outline.get(), &PeakScan::progressed, this, draw);
        connect(m_outline.get(), &PeakScan::finished, this, draw);
    }
    if (m_outline->isFinished())
        draw();
}

void PreviewController::rebuildOutputMenu()
{
    m_outputMenu->clear();
    auto *group = new QActionGroup(m_outputMenu);
    const QByteArray chosen = m_playback->outputDevice();
    const auto entry = [&](const QString &text, const QByteArray &id, const QString &name) {
        QAction *action = m_outputMenu->addAction(text);
        action->setCheckable(true);
        action->setChecked(id == chosen);
        action->setData(id);
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, id, name] { chooseOutput(id, name); });
    };
    entry(u"サウンドサーバーの既定の出力先"_s, {}, {});
    const QList<PlaybackControl::OutputDevice> devices = m_playback->outputDevices();
    for (const auto &device : devices)
        entry(device.description + u"  ("_s + QString::fromUtf8(device.id) + u')', device.id, device.description);
    if (!chosen.isEmpty() && !outputPresent())
        entry(m_outputName + u"（接続されていません）"_s, chosen, m_outputName);
}

void PreviewController::chooseOutput(const QByteArray &id, const QString &name)
{
    m_playback->setOutputDevice(id);
    m_outputName = name;
    m_outputWasPresent = outputPresent();
    // Remembering is a convenience, as for the slot: the choice holds for this run anyway.
    (void)SettingsFile::write(m_form->AppFolder() + OutputStoreName, QString::fromUtf8(id));
}

void PreviewController::restoreOutput()
{
    const QByteArray id = SettingsFile::read(m_form->AppFolder() + OutputStoreName).toUtf8();
    if (id.isEmpty())
        return;
    // A device that is unplugged now stays chosen: it plays again once it is back.
    m_playback->setOutputDevice(id);
    m_outputName = QString::fromUtf8(id);
    const QList<PlaybackControl::OutputDevice> devices = m_playback->outputDevices();
    for (const auto &device : devices)
        if (device.id == id)
            m_outputName = device.description;
}

bool PreviewController::outputPresent() const
{
    const QByteArray chosen = m_playback->outputDevice();
    const QList<PlaybackControl::OutputDevice> devices = m_playback->outputDevices();
    return std::any_of(devices.cbegin(), devices.cend(), [&](const auto &d) { return d.id == chosen; });
}

bool PreviewController::stopIfOutputVanished()
{
    if (m_playback->outputDevice().isEmpty())
        return false;
    const bool present = outputPresent();
    const bool vanished = m_outputWasPresent && !present;
    m_outputWasPresent = present;
    if (!vanished)
        return false;
    // The sound server would carry on through some other device, perhaps the
    // hall's speakers: stop rather than play where nobody chose.
    m_form->stopPreview();
    m_boxes->inform(m_host,
                             u"出力先「%1」が使えなくなったため、再生を止めました。\n"
                             u"機器の接続を確かめるか、「再生」メニューの「出力先」で選び直してください。"_s.arg(m_outputName),
                             u"お知らせ"_s);
    return true;
}

void PreviewController::tick()
{
    if (stopIfOutputVanished())
        return;
    if (m_run)
        advanceRunThrough();
    showPosition();
}

qint64 PreviewController::positionMs() const
{
    const QString path = m_form->songPath();
    const auto state = m_playback->state(path);
    return state == PlaybackControl::State::Ended ? m_lengthMs : m_playback->positionMs(path);
}

void PreviewController::showPosition()
{
    const QString path = m_form->songPath();
    if (m_playback->state(path) == PlaybackControl::State::Closed || !m_form->isPlaying()) {
        m_bar->showIdle();
        return;
    }
    if (path != m_lengthPath) {
        m_lengthPath = path;
        m_lengthMs = m_playback->lengthMs(path);
    }
    m_bar->showPosition(positionMs(), m_lengthMs);
}

void PreviewController::seekTo(qint64 ms)
{
    const QString path = m_form->songPath();
    if (!m_form->isPlaying() || m_playback->state(path) == PlaybackControl::State::Closed)
        return;
    showPosition(); // the length of a song just started
    // A song the probe gives no length for still moves, only not beyond its end.
    m_playback->seek(path, qMax<qint64>(0, m_lengthMs > 0 ? qMin(ms, m_lengthMs) : ms));
    showPosition();
}

void PreviewController::startRunThrough()
{
    if (!m_runThroughAction->isEnabled())
        return;
    const SongTable &list = m_form->MSHFlexGrid2();
    QList<RunThrough::Song> songs;
    for (int r = qMax(1, list.Row()); r < list.Rows(); ++r) {
        if (list.textAt(r, 1).isEmpty())
            continue;
        const qint64 seconds = SlotFigures::parseLength(list.textAt(r, 3)).value_or(0);
        songs.append({ r, list.textAt(r, 2), list.textAt(r, 1), seconds * 1000 });
    }
    if (songs.isEmpty()) {
        m_boxes->inform(m_host, u"セットリストに曲がセットされていません"_s, u"お知らせ"_s);
        return;
    }
    m_runClock->show();
    Q_EMIT message(QString());
    m_run.emplace(std::move(songs), qint64(m_slot->pauseSeconds()) * 1000);
    m_runTime.start();
    advanceRunThrough();
    availabilityChanged();
}

void PreviewController::advanceRunThrough()
{
    const qint64 now = m_runTime.elapsed();
    if (const auto song = m_run->playing()) {
        const auto state = m_playback->state(song->path);
        if (state == PlaybackControl::State::Ended) {
            m_form->closeSong();
            m_run->ended(now);
        } else if (state != PlaybackControl::State::Playing) {
            skipSong();
        }
    }
    // The next song is decoded during the pause, so that it starts on time.
    if (const auto next = m_run->upcoming(); next && m_armed != next->path) {
        m_armed = next->path;
        const SetListRowExtras &extras = m_form->MSHFlexGrid2().extrasAt(next->row);
        m_playback->setEdits(m_armed, extras.edits, extras.songMs);
        m_playback->arm(m_armed);
    }
    while (const auto song = m_run->due(now)) {
        m_form->showSetListRow(song->row);
        m_runStartingSong = true;
        const bool started = m_form->playSong(song->path, song->row) == 0;
        m_runStartingSong = false;
        if (started)
            break;
        skipSong();
    }
    showRunClock();
    if (m_run->isDone())
        m_form->stopPreview(); // the lock-out ends with the set; the clock stays to be read
}

void PreviewController::endRun()
{
    // A song armed for a pause that never ended is let go of.
    if (!m_armed.isEmpty() && m_armed != m_form->songPath())
        m_playback->disarm(m_armed);
    m_armed.clear();
    m_run.reset();
}

void PreviewController::skipSong()
{
    m_form->closeSong();
    m_run->failed();
    Q_EMIT message(u"再生できない曲を飛ばしました: "_s + m_run->skipped().join(u"、"_s));
}

void PreviewController::showRunClock()
{
    const qint64 elapsed = m_run->elapsedMs(m_runTime.elapsed(), m_playback->positionMs(m_form->songPath()));
    const SlotFigures figures{ 1, elapsed / 1000, m_slot->slotSeconds(), 0 };
    const QString left = figures.leftText();
    m_runClock->setText(u"通し "_s + SlotFigures::lengthText(elapsed / 1000) + (left.isEmpty() ? QString() : u"  "_s + left));
    m_runClock->setStyleSheet(figures.isOver() ? u"color: red; font-weight: bold;"_s : QString());
}
