// The preview as the performer hears it, through the real window and the sound server's null
// sink, heard at its monitor: press to sound (50 presses, cold and armed, idle and with both
// cores busy), seek to sound, the clock against what was heard over a whole song, underruns
// over a long run-through, and memory while a long song plays. Beside it, the media player
// the preview used before (Qt Multimedia's, FFmpeg backend, a new player per press as before),
// measured the same way in the same run.
//
// usage (inside scripts/session.sh, which starts the null sink):
//   bench_player [presses=50] [songs-folder] [run-through-minutes=2]
// With BENCH_TRACE set, the clock is printed every second as it is compared with the sink.
#include "benchaudio.h"
#include "benchwindow.h"

#include "forms/main/mainwindow.h"
#include "model/songedits.h"
#include "model/songtable.h"
#include "platform/audio/player/audioplayer.h"
#include "platform/desktop/messageboxes.h"
#include "platform/desktop/setlistdialog.h"
#include "platform/desktop/showfoldersmodule.h"
#include "platform/media/mediaservice.h"

#include <QAction>
#include <QAudioOutput>
#include <QElapsedTimer>
#include <QFile>
#include <QMediaPlayer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

// The media player of before, a new one per press with the file opened by us, as before.
std::vector<double> mediaPlayerPresses(Monitor &monitor, const QStringList &songs, int presses)
{
    std::vector<double> ms;
    for (int i = 0; i < presses; ++i) {
        QTest::qWait(400);
        QFile file(songs[i % songs.size()]);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QAudioOutput output;
        QMediaPlayer player;
        player.setAudioOutput(&output);
        const auto from = Clock::now();
        player.setSourceDevice(&file, QUrl::fromLocalFile(file.fileName()));
        player.play();
        ms.push_back(monitor.soundAfter(from, 3000));
        player.stop();
    }
    return ms;
}

// End (the last 15 seconds) on a song that rises from 440 to 880 Hz at 20 s, timed to the
// first 10 ms heard at the new pitch.
std::vector<double> seeks(MainWindow &window, PlaybackControl &playback, Monitor &monitor, const QString &song, int count)
{
    std::vector<double> ms;
    window.form()->replaceSetList({ song }, u"seek"_s);
    window.form()->MSHFlexGrid2().setRow(1);
    window.findChild<QAction *>(u"playSetListAction"_s)->trigger();
    auto *ending = window.findChild<QAction *>(u"endingAction"_s);
    for (int i = 0; i < count; ++i) {
        playback.seek(song, 2000);
        QTest::qWait(400);
        const auto from = Clock::now();
        ending->trigger();
        ms.push_back(monitor.soundAfter(from, 2000, [&](qsizetype at) { return monitor.higherAt(at, 440, 880); }));
    }
    window.form()->findChild<QPushButton *>(u"Command30"_s)->click();
    return ms;
}

// The clock shown against the time the song has been heard, every 50 ms over the whole song,
// and where the song ends against its length in the length column.
void clockOverSong(MainWindow &window, PlaybackControl &playback, Monitor &monitor, const QString &song)
{
    window.form()->replaceSetList({ song }, u"clock"_s);
    window.form()->MSHFlexGrid2().setRow(1);
    const qint64 length = playback.lengthMs(song);
    QTest::qWait(300);
    const bool trace = qEnvironmentVariableIsSet("BENCH_TRACE");
    const auto from = Clock::now();
    window.findChild<QAction *>(u"playSetListAction"_s)->trigger();
    const double onset = monitor.soundAfter(from, 2000);
    std::vector<double> off;
    while (playback.state(song) == PlaybackControl::State::Playing) {
        const double heard = double(monitor.heardSince(from)) * 1000.0 / MonitorRate;
        off.push_back(std::abs(double(playback.positionMs(song)) - heard));
        if (trace && off.size() % 20 == 1)
            std::printf("    at %.0f ms heard, shown %lld ms\n", heard, static_cast<long long>(playback.positionMs(song)));
        QTest::qWait(50);
    }
    const auto ended = Clock::now();
    QTest::qWait(300);
    const double lastHeard = std::chrono::duration<double, std::milli>(monitor.lastSound() - from).count() - onset;
    const double endedAt = std::chrono::duration<double, std::milli>(ended - from).count() - onset;
    std::printf("  the clock against the samples the sink played, over %.1f s: median %.1f ms off, worst %.1f ms\n",
                length / 1000.0, median(off), off.empty() ? 0 : *std::max_element(off.begin(), off.end()));
    std::printf("  the sink played %.1f ms of the song, its length column says %lld ms; by the wall clock the sound\n"
                "  lasted %.1f ms and the song was shown as ended at %.1f ms\n",
                double(monitor.soundLength()) * 1000.0 / MonitorRate,
                static_cast<long long>(length), lastHeard, endedAt);
    window.form()->findChild<QPushButton *>(u"Command30"_s)->click();
}

qint64 rssKiB()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

// A run-through of the set from its first song with both cores busy, for `minutes`; the
// underruns the output counted.
int runThrough(MainWindow &window, MediaService &media, const QStringList &songs, int minutes)
{
    window.form()->replaceSetList(songs, u"run"_s);
    window.form()->MSHFlexGrid2().setRow(1);
    const int before = media.player().underruns();
    Load load(2);
    window.findChild<QAction *>(u"runThroughAction"_s)->trigger();
    QTest::qWait(minutes * 60000);
    window.form()->findChild<QPushButton *>(u"Command30"_s)->click();
    return media.player().underruns() - before;
}

} // namespace

int main(int argc, char **argv)
{
    // The old player's backend, as the program chose it before; the new player never asks.
    qputenv("QT_MEDIA_BACKEND", "ffmpeg");
    auto app = windowBenchApp(argc, argv);
    const int presses = argc > 1 ? qMax(1, QByteArray(argv[1]).toInt()) : 50;
    char *setArgs[] = { argv[0], const_cast<char *>("1"), argc > 2 ? argv[2] : nullptr };
    const ShowSetBench set = showSetBench(argc > 2 ? 3 : 2, setArgs, u"player-songs"_s, false);
    const int runMinutes = argc > 3 ? qMax(1, QByteArray(argv[3]).toInt()) : 2;
    const QString sink = qEnvironmentVariable("KORVANDA_TEST_SINK");
    if (set.songs.isEmpty() || sink.isEmpty()) {
        std::printf("needs the songs and a PulseAudio null sink (run inside scripts/session.sh)\n");
        return 1;
    }
    // The media player of before is measured first, before the window opens its output: with
    // that stream open the sound server would be ready for it too.
    Monitor monitor(sink);
    std::printf("press to sound, %d presses each, songs of 3:30-4:30 in the set's mix of formats\n", presses);
    print("before: media player, idle", figures(mediaPlayerPresses(monitor, set.songs, presses)));
    {
        Load load(2);
        print("before: media player, both cores busy", figures(mediaPlayerPresses(monitor, set.songs, presses)));
    }
    BenchPlayerWindow bench(set.songs);
    MediaService &media = bench.media;
    MainWindow &window = bench.window;
    print("own player (F5 in the window), idle", figures(windowPresses(window, media, monitor, set.songs, presses, false)),
          media.player().underruns());
    print("own player, armed song, idle", figures(windowPresses(window, media, monitor, set.songs, presses, true)),
          media.player().underruns());
    // The same songs edited as a performer shapes them: started 30 s in, a whole tone up.
    SongEdits edited;
    edited.startMs = 30000;
    edited.semitones = 2;
    const auto editAll = [&](const SongEdits &edits) {
        const SongTable &list = window.form()->MSHFlexGrid2();
        for (int r = 1; r < list.Rows(); ++r) {
            SetListRowExtras extras = list.extrasAt(r);
            extras.edits = edits;
            window.form()->applyRowEdits(r, extras);
        }
    };
    editAll(edited);
    print("own player, edited song (0:30 on, key +2), idle",
          figures(windowPresses(window, media, monitor, set.songs, presses, false)), media.player().underruns());
    editAll({});
    {
        Load load(2);
        print("own player, both cores busy", figures(windowPresses(window, media, monitor, set.songs, presses, false)),
              media.player().underruns());
        print("own player, armed song, both cores busy", figures(windowPresses(window, media, monitor, set.songs, presses, true)),
              media.player().underruns());
        editAll(edited);
        print("own player, edited song, both cores busy",
              figures(windowPresses(window, media, monitor, set.songs, presses, false)), media.player().underruns());
        editAll({});
    }

    const QString rising = set.base + u"/rising.wav"_s;
    const QString tenMinutes = set.base + u"/ten-minutes.mp3"_s;
    if ((!QFile::exists(rising) && !MediaGen::twoTones(rising, 40.0, 440, 880, 20.0))
        || (!QFile::exists(tenMinutes)
            && !MediaGen::ffmpeg({ u"-f"_s, u"lavfi"_s, u"-i"_s, MediaGen::music(44100, 600), u"-b:a"_s, u"320k"_s, tenMinutes }))) {
        std::printf("could not make the seek and memory songs\n");
        return 1;
    }
    std::printf("seek: End, timed to the sound of the new place (%d times)\n", presses);
    print("own player", figures(seeks(window, media, monitor, rising, presses)));
    {
        Load load(2);
        print("own player, both cores busy", figures(seeks(window, media, monitor, rising, presses)));
    }

    const qint64 idle = rssKiB();
    window.form()->replaceSetList({ tenMinutes }, u"memory"_s);
    window.form()->MSHFlexGrid2().setRow(1);
    window.findChild<QAction *>(u"playSetListAction"_s)->trigger();
    qint64 peak = 0;
    for (int i = 0; i < 40; ++i) {
        media.seek(tenMinutes, qint64(i) * 14000);
        QTest::qWait(250);
        peak = qMax(peak, rssKiB());
    }
    window.form()->findChild<QPushButton *>(u"Command30"_s)->click();
    std::printf("memory: a 10-minute MP3 playing and moved in, %.1f MiB above the idle window (%.1f MiB)\n",
                double(peak - idle) / 1024.0, double(idle) / 1024.0);

    clockOverSong(window, media, monitor, set.songs.value(0));
    std::printf("run-through of the set, both cores busy, %d minutes: %d underruns\n", runMinutes,
                runThrough(window, media, set.songs, runMinutes));
    return 0;
}
