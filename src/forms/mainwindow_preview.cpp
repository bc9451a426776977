// Listening as a performer does: where the song is and moving in it, the set
// list's songs, a run-through of the set against the slot, and the device the
// sound goes to.
#include "forms/mainwindow.h"

#include "forms/previewbar.h"
#include "forms/slotstatusbar.h"
#include "model/slotfigures.h"
#include "model/songtable.h"
#include "platform/desktop/messageboxes.h"
#include "platform/media/playbackcontrol.h"
#include "platform/storage/settingsfile.h"

#include <QAction>
#include <QActionGroup>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
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

void MainWindow::createPlayMenu()
{
    if (!m_services.playback)
        return;
    QMenu *menu = menuBar()->addMenu(u"再生(&P)"_s);
    menu->setObjectName(u"playMenu"_s);
    m_playSetListAction = addEntry(menu, u"セットリストの曲を再生"_s, QKeySequence(Qt::Key_F5));
    m_playSetListAction->setObjectName(u"playSetListAction"_s);
    connect(m_playSetListAction, &QAction::triggered, m_form, &Form1::playSetListSong);
    m_runThroughAction = addEntry(menu, u"通し再生（選択行から最後まで）"_s, QKeySequence(Qt::Key_F6));
    m_runThroughAction->setObjectName(u"runThroughAction"_s);
    connect(m_runThroughAction, &QAction::triggered, this, &MainWindow::startRunThrough);
    menu->addSeparator();

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
        { u"5 秒戻す"_s, QKeySequence(Qt::Key_Left), "backAction", [this] { seekTo(previewPositionMs() - StepMs); } },
        { u"5 秒進める"_s, QKeySequence(Qt::Key_Right), "onAction", [this] { seekTo(previewPositionMs() + StepMs); } },
        { u"最後の 15 秒へ"_s, QKeySequence(Qt::Key_End), "endingAction", [this] { seekTo(m_lengthMs - EndingMs); } },
    };
    for (const auto &key : keys) {
        QAction *action = addEntry(menu, key.text, key.key);
        action->setObjectName(QLatin1StringView(key.name));
        connect(action, &QAction::triggered, this, key.run);
        m_whilePlayingActions.append(action);
    }
    menu->addSeparator();
    m_outputMenu = menu->addMenu(u"出力先"_s);
    m_outputMenu->setObjectName(u"outputMenu"_s);
    connect(m_outputMenu, &QMenu::aboutToShow, this, &MainWindow::rebuildOutputMenu);

    m_previewBar = new PreviewBar(this);
    addToolBar(Qt::BottomToolBarArea, m_previewBar);
    connect(m_previewBar, &PreviewBar::seekRequested, this, &MainWindow::seekTo);
    m_previewTick = new QTimer(this);
    m_previewTick->setInterval(TickMs);
    connect(m_previewTick, &QTimer::timeout, this, &MainWindow::tickPreview);
    connect(m_form, &Form1::availabilityChanged, this, &MainWindow::previewAvailabilityChanged);
    connect(m_form, &Form1::songStarted, this, [this] {
        m_outputWasPresent = outputPresent();
        // Another song started by hand takes over from the run-through.
        if (!m_runStartingSong && m_run) {
            m_run.reset();
            previewAvailabilityChanged();
        }
    });
    connect(m_form, &Form1::previewStopped, this, [this] {
        m_run.reset();
        previewAvailabilityChanged();
    });
    restoreOutput();
    previewAvailabilityChanged();
}

void MainWindow::previewAvailabilityChanged()
{
    const bool playing = m_form->isPlaying();
    for (QAction *action : std::as_const(m_whilePlayingActions))
        action->setEnabled(playing);
    m_runThroughAction->setEnabled(!m_run);
    if (playing && !m_previewTick->isActive())
        m_previewTick->start();
    if (!playing) {
        m_previewTick->stop();
        m_previewBar->showIdle();
    }
}

void MainWindow::rebuildOutputMenu()
{
    m_outputMenu->clear();
    auto *group = new QActionGroup(m_outputMenu);
    const QByteArray chosen = m_services.playback->outputDevice();
    const auto entry = [&](const QString &text, const QByteArray &id, const QString &name) {
        QAction *action = m_outputMenu->addAction(text);
        action->setCheckable(true);
        action->setChecked(id == chosen);
        action->setData(id);
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, id, name] { chooseOutput(id, name); });
    };
    entry(u"サウンドサーバーの既定の出力先"_s, {}, {});
    const QList<PlaybackControl::OutputDevice> devices = m_services.playback->outputDevices();
    for (const auto &device : devices)
        entry(device.description + u"  ("_s + QString::fromUtf8(device.id) + u')', device.id, device.description);
    if (!chosen.isEmpty() && !outputPresent())
        entry(m_outputName + u"（接続されていません）"_s, chosen, m_outputName);
}

void MainWindow::chooseOutput(const QByteArray &id, const QString &name)
{
    m_services.playback->setOutputDevice(id);
    m_outputName = name;
    m_outputWasPresent = outputPresent();
    // Remembering is a convenience, as for the slot: the choice holds for this run anyway.
    (void)SettingsFile::write(m_form->AppFolder() + OutputStoreName, QString::fromUtf8(id));
}

void MainWindow::restoreOutput()
{
    const QByteArray id = SettingsFile::read(m_form->AppFolder() + OutputStoreName).toUtf8();
    if (id.isEmpty())
        return;
    // A device that is unplugged now stays chosen: it plays again once it is back.
    m_services.playback->setOutputDevice(id);
    m_outputName = QString::fromUtf8(id);
    const QList<PlaybackControl::OutputDevice> devices = m_services.playback->outputDevices();
    for (const auto &device : devices)
        if (device.id == id)
            m_outputName = device.description;
}

bool MainWindow::outputPresent() const
{
    const QByteArray chosen = m_services.playback->outputDevice();
    const QList<PlaybackControl::OutputDevice> devices = m_services.playback->outputDevices();
    return std::any_of(devices.cbegin(), devices.cend(), [&](const auto &d) { return d.id == chosen; });
}

bool MainWindow::stopIfOutputVanished()
{
    if (m_services.playback->outputDevice().isEmpty())
        return false;
    const bool present = outputPresent();
    const bool vanished = m_outputWasPresent && !present;
    m_outputWasPresent = present;
    if (!vanished)
        return false;
    // The sound server would carry on through some other device, perhaps the
    // hall's speakers: stop rather than play where nobody chose.
    m_form->stopPreview();
    m_services.boxes->inform(this,
                             u"出力先「%1」が使えなくなったため、再生を止めました。\n"
                             u"機器の接続を確かめるか、「再生」メニューの「出力先」で選び直してください。"_s.arg(m_outputName),
                             u"お知らせ"_s);
    return true;
}

void MainWindow::tickPreview()
{
    if (stopIfOutputVanished())
        return;
    if (m_run)
        advanceRunThrough();
    showPreviewPosition();
}

qint64 MainWindow::previewPositionMs() const
{
    const QString path = m_form->songPath();
    const auto state = m_services.playback->state(path);
    return state == PlaybackControl::State::Ended ? m_lengthMs : m_services.playback->positionMs(path);
}

void MainWindow::showPreviewPosition()
{
    const QString path = m_form->songPath();
    if (m_services.playback->state(path) == PlaybackControl::State::Closed || !m_form->isPlaying()) {
        m_previewBar->showIdle();
        return;
    }
    if (path != m_lengthPath) {
        m_lengthPath = path;
        m_lengthMs = m_services.playback->lengthMs(path);
    }
    m_previewBar->showPosition(previewPositionMs(), m_lengthMs);
}

void MainWindow::seekTo(qint64 ms)
{
    const QString path = m_form->songPath();
    if (!m_form->isPlaying() || m_services.playback->state(path) == PlaybackControl::State::Closed)
        return;
    showPreviewPosition(); // the length of a song just started
    // A song the probe gives no length for still moves, only not beyond its end.
    m_services.playback->seek(path, qMax<qint64>(0, m_lengthMs > 0 ? qMin(ms, m_lengthMs) : ms));
    showPreviewPosition();
}

void MainWindow::startRunThrough()
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
        m_services.boxes->inform(this, u"セットリストに曲がセットされていません"_s, u"お知らせ"_s);
        return;
    }
    if (!m_runClock) {
        m_runClock = new QLabel(this);
        m_runClock->setObjectName(u"runThroughClock"_s);
        m_runClock->setToolTip(u"通し再生で経過したセットの時間（曲間を含む）と、持ち時間の残り"_s);
        m_slotBar->addPermanentWidget(m_runClock);
    }
    statusBar()->clearMessage();
    m_run.emplace(std::move(songs), qint64(m_slotBar->pauseSeconds()) * 1000);
    m_runTime.start();
    advanceRunThrough();
    previewAvailabilityChanged();
}

void MainWindow::advanceRunThrough()
{
    const qint64 now = m_runTime.elapsed();
    if (const auto song = m_run->playing()) {
        const auto state = m_services.playback->state(song->path);
        if (state == PlaybackControl::State::Ended) {
            m_form->closeSong();
            m_run->ended(now);
        } else if (state != PlaybackControl::State::Playing) {
            skipSong();
        }
    }
    while (const auto song = m_run->due(now)) {
        m_form->showSetListRow(song->row);
        m_runStartingSong = true;
        const bool started = m_form->playSong(song->path) == 0;
        m_runStartingSong = false;
        if (started)
            break;
        skipSong();
    }
    showRunClock();
    if (m_run->isDone())
        m_form->stopPreview(); // the lock-out ends with the set; the clock stays to be read
}

void MainWindow::skipSong()
{
    m_form->closeSong();
    m_run->failed();
    statusBar()->showMessage(u"再生できない曲を飛ばしました: "_s + m_run->skipped().join(u"、"_s));
}

void MainWindow::showRunClock()
{
    const qint64 elapsed = m_run->elapsedMs(m_runTime.elapsed(), m_services.playback->positionMs(m_form->songPath()));
    const SlotFigures figures{ 1, elapsed / 1000, m_slotBar->slotSeconds(), 0 };
    const QString left = figures.leftText();
    m_runClock->setText(u"通し "_s + SlotFigures::lengthText(elapsed / 1000) + (left.isEmpty() ? QString() : u"  "_s + left));
    m_runClock->setStyleSheet(figures.isOver() ? u"color: red; font-weight: bold;"_s : QString());
}
