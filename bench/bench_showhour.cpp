// A whole show as a performer plays it: the 60-minute set (songs of 3:30-4:30 in the set's
// mix of formats) through the real show window, each song started by a scripted GO after
// the one before ended and a pause, stray GOs pressed while songs play, both cores busy the
// whole time. Heard at the null sink's monitor: every GO must sound (none lost), no stray
// GO may stop a song, and the songs must play without a gap (none heard, none counted by
// the player). Beside it, in the same run and under the same load, a plain client (ffmpeg's
// decode into pacat) plays a song with one 20 ms hole cut into it: the gap detector must hear
// exactly that one, so that "no gap" below means what it says.
//
// usage (inside scripts/session.sh, which starts the null sink):
//   bench_showhour [minutes=60] [songs-folder]
#include "benchaudio.h"
#include "benchwindow.h"

#include "forms/main/mainwindow.h"
#include "forms/show/showcontroller.h"
#include "forms/show/showwindow.h"
#include "platform/audio/player/audioplayer.h"
#include "platform/desktop/showfoldersmodule.h"
#include "platform/media/mediaservice.h"

#include <QAction>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int PauseMs = 1500;
constexpr int StrayGosPerSong = 3;

struct Hour {
    int songs = 0;
    int lostGos = 0;
    int strayStopped = 0; // stray GOs after which the song was no longer playing
    std::vector<double> goMs;
    double playedMinutes = 0;
};

// The time the machine's host gave neither core to this machine, in ms, from /proc/stat: a
// gap heard while it grows may be nothing any program here could prevent.
double stolenMs()
{
    QFile stat(u"/proc/stat"_s);
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = stat.readLine().simplified().split(' ');
    return fields.size() > 8 ? fields[8].toDouble() * 1000.0 / double(sysconf(_SC_CLK_TCK)) : 0;
}

// A plain client's playback of the first 30 s of `song` with a 20 ms hole at 10 s; the gaps heard.
std::vector<Monitor::Gap> baseline(Monitor &monitor, const QString &song, const QString &sink)
{
    const auto before = monitor.gaps().size();
    QProcess decode, play;
    decode.setStandardOutputProcess(&play);
    decode.start(u"ffmpeg"_s, { u"-v"_s, u"error"_s, u"-t"_s, u"30"_s, u"-i"_s, song, u"-af"_s,
                                u"aeval=val(ch)*not(between(t\\,10\\,10.02)):c=same"_s, u"-ac"_s, u"2"_s, u"-ar"_s, u"48000"_s,
                                u"-f"_s, u"s16le"_s, u"-"_s });
    play.start(u"pacat"_s, { u"-d"_s, sink, u"--format=s16le"_s, u"--rate=48000"_s, u"--channels=2"_s });
    decode.waitForFinished(60000);
    play.closeWriteChannel();
    while (play.state() != QProcess::NotRunning)
        QTest::qWait(100);
    QTest::qWait(500);
    const auto all = monitor.gaps();
    return { all.begin() + qsizetype(before), all.end() };
}

// The gaps, each with its time from `from`.
void printGaps(const char *what, const std::vector<Monitor::Gap> &gaps, Clock::time_point from)
{
    double longest = 0;
    for (const auto &g : gaps)
        longest = std::max(longest, g.ms);
    std::printf("  %-46s gaps heard %zu (longest %.1f ms)\n", what, gaps.size(), longest);
    for (size_t i = 0; i < gaps.size() && i < 20; ++i)
        std::printf("    %.1f ms at %.3f s\n", gaps[i].ms, std::chrono::duration<double>(gaps[i].at - from).count());
}

Hour playShow(MainWindow &window, MediaService &media, Monitor &monitor, int minutes)
{
    Hour hour;
    ShowController *shows = window.showController();
    window.findChild<QAction *>(u"showAction"_s)->trigger();
    ShowWindow *show = shows->window();
    if (!show)
        return hour;
    QElapsedTimer clock;
    clock.start();
    while (show->run().selected() && clock.elapsed() < qint64(minutes) * 60'000) {
        const ShowRun::Song next = *show->run().selected();
        for (int waited = 0; media.state(next.path) != PlaybackControl::State::Armed && waited < 5000; waited += 10)
            QTest::qWait(10);
        QTest::qWait(PauseMs);
        const auto from = Clock::now();
        QTest::keyPress(show, Qt::Key_Space);
        const double ms = monitor.soundAfter(from, 1000);
        QTest::keyRelease(show, Qt::Key_Space);
        hour.goMs.push_back(ms);
        if (ms < 0 || !show->run().playing()) {
            ++hour.lostGos;
            continue;
        }
        ++hour.songs;
        const size_t gapsBefore = monitor.gaps().size();
        const double stolenBefore = stolenMs();
        // Stray GOs at even points of the song: each must be ignored with the song playing on.
        QElapsedTimer songClock;
        songClock.start();
        for (int stray = 1; stray <= StrayGosPerSong; ++stray) {
            while (songClock.elapsed() < next.lengthMs * stray / (StrayGosPerSong + 1))
                QTest::qWait(200);
            QTest::keyClick(show, Qt::Key_Space);
            QTest::qWait(50);
            if (!show->run().playing())
                ++hour.strayStopped;
        }
        while (show->run().playing())
            QTest::qWait(100);
        // Each song as it ends, so that a show cut short still tells how far it went well.
        const auto gaps = monitor.gaps();
        double longest = 0;
        for (size_t i = gapsBefore; i < gaps.size(); ++i)
            longest = std::max(longest, gaps[i].ms);
        std::printf("  %2d %-28s GO %5.1f ms  at %5.1f min  gaps heard %zu (longest %.1f ms)  player underruns %d  stolen %.0f ms\n",
                    hour.songs, qPrintable(next.name), ms, double(clock.elapsed() - next.lengthMs) / 60000.0,
                    gaps.size() - gapsBefore, longest, media.player().underruns(), stolenMs() - stolenBefore);
    }
    hour.playedMinutes = double(clock.elapsed()) / 60000.0;
    show->close();
    return hour;
}

} // namespace

int main(int argc, char **argv)
{
    auto app = windowBenchApp(argc, argv);
    const int minutes = argc > 1 ? qMax(1, QByteArray(argv[1]).toInt()) : 60;
    const auto [songs, sink] = setAndSink(argc, argv);
    if (songs.isEmpty())
        return 1;
    Monitor monitor(sink);
    BenchPlayerWindow bench(songs);
    MediaService &media = bench.media;
    MainWindow &window = bench.window;

    std::printf("a scripted show of %d minutes, %d stray GOs per song, both cores busy\n", minutes, StrayGosPerSong);
    Load load(2);
    const auto baselineFrom = Clock::now();
    printGaps("baseline: ffmpeg | pacat, one 20 ms hole", baseline(monitor, songs.first(), sink), baselineFrom);
    const auto gapsBefore = monitor.gaps().size();
    const auto showFrom = Clock::now();
    const int underrunsBefore = media.player().underruns();
    const Hour hour = playShow(window, media, monitor, minutes);
    const auto all = monitor.gaps();
    const int underruns = media.player().underruns() - underrunsBefore;
    std::printf("  show: %d songs in %.1f min, GOs lost %d, stray GOs that stopped a song %d, player underruns %d\n",
                hour.songs, hour.playedMinutes, hour.lostGos, hour.strayStopped, underruns);
    printGaps("show: the songs at the monitor", { all.begin() + qsizetype(gapsBefore), all.end() }, showFrom);
    print("show: GO (Space) after each song's end", figures(hour.goMs));
    return hour.lostGos == 0 && hour.strayStopped == 0 && underruns == 0 ? 0 : 2;
}
