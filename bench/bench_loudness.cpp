// Measuring a set's loudness as the window does it: 15 songs of about four
// minutes in the mix of formats performers have, handed to the loudness
// service at once and measured on all cores, with no cache to help. Beside it
// in the same run: ffmpeg's own ebur128 meter (true peak on) on the same
// songs, one after another. Meanwhile a 5 ms timer on the event loop tells the
// longest time the loop went without running it: the window must never wait.
//
// usage: bench_loudness [runs=3] [folder]   (the songs are made once and kept there)
#include "benchfigures.h"
#include "model/levelmatch.h"
#include "platform/audio/loudness/loudnessservice.h"
#include "support/mediagen.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QCoreApplication app(argc, argv);
    const ShowSetBench set = showSetBench(argc, argv, u"bench-loudness"_s, true);
    if (set.songs.isEmpty())
        return 1;
    const int runs = set.runs;
    const QStringList &songs = set.songs;

    std::vector<double> ours, theirs, stalls;
    QList<std::optional<Loudness>> levels;
    for (int r = 0; r <= runs; ++r) {
        QElapsedTimer t;
        t.start();
        for (const QString &song : songs)
            QProcess::execute(u"ffmpeg"_s, { u"-nostdin"_s, u"-v"_s, u"quiet"_s, u"-i"_s, song, u"-af"_s, u"ebur128=peak=true"_s,
                                             u"-f"_s, u"null"_s, u"-"_s });
        const double ffmpegMs = double(t.nsecsElapsed()) / 1e6;

        // No cache: every song is measured.
        LoudnessService service(QString{});
        QEventLoop loop;
        int measured = 0;
        QObject::connect(&service, &LoudnessService::measured, &loop, [&] {
            if (++measured == songs.size())
                loop.quit();
        });
        QTimer tick;
        tick.setInterval(5);
        QElapsedTimer sinceTick;
        double longest = 0;
        QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
            longest = std::max(longest, double(sinceTick.nsecsElapsed()) / 1e6);
            sinceTick.start();
        });
        t.start();
        sinceTick.start();
        tick.start();
        service.request(songs);
        loop.exec();
        const double oursMs = double(t.nsecsElapsed()) / 1e6;
        levels.clear();
        for (const QString &song : songs)
            levels.append(service.result(song).loudness);
        // The first round only warms the page cache for both.
        if (r == 0)
            continue;
        ours.push_back(oursMs);
        theirs.push_back(ffmpegMs);
        stalls.push_back(longest);
        std::printf("  run %d: service %.0f ms, ffmpeg %.0f ms, longest event-loop gap %.1f ms\n", r, oursMs, ffmpegMs, longest);
    }
    const auto spread = LevelMatch::spread(levels);
    const double o = median(ours), f = median(theirs);
    std::printf("15 songs, 3:30 to 4:30 (8 MP3, 3 M4A, 2 FLAC, 1 WAV 48 kHz, 1 Ogg), %d cores, median of %d runs\n",
                QThread::idealThreadCount(), runs);
    if (spread)
        std::printf("  the set measured %.1f to %.1f LUFS\n", spread->quietest, spread->loudest);
    std::printf("  loudness service, all songs at once          %9.1f ms\n", o);
    std::printf("  ffmpeg ebur128 (peak=true), one after another %9.1f ms\n", f);
    std::printf("  ratio                                         %9.2f x   (goal <= 0.6 x: %s)\n", o / f, o / f <= 0.6 ? "met" : "MISSED");
    std::printf("  longest event-loop gap (5 ms timer)           %9.1f ms  (goal <= 50 ms: %s)\n", median(stalls),
                *std::max_element(stalls.begin(), stalls.end()) <= 50 ? "met in every run" : "MISSED");
    return 0;
}
