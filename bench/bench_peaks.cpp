// A song's outline as the edit panel and the preview bar will ask for it, on the 60-minute
// set (songs of 3:30-4:30 in the set's mix of formats): a song not seen before, until the
// whole outline is there and until its first part is, beside ffmpeg decoding the same song
// to nothing (the decode is the cost the outline cannot avoid); the same song again, from
// the disk; and the disk an outline takes. While the outlines are made, the event loop's
// longest wait is measured (a window drawing them must never stall).
//
// usage: bench_peaks [runs=3] [songs-folder]
#include "benchfigures.h"

#include "platform/audio/peaks/peakscan.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char **argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QCoreApplication app(argc, argv);
    const ShowSetBench set = showSetBench(argc, argv, QStringLiteral("player-songs"), false);
    if (set.songs.isEmpty())
        return 1;
    std::vector<double> ffmpegMs, wholeMs, firstMs, keptMs, stallMs, ratio;
    qint64 biggest = 0;
    for (int run = 0; run < set.runs; ++run) {
        QTemporaryDir root;
        for (const QString &song : set.songs) {
            QElapsedTimer t;
            t.start();
            QProcess::execute(QStringLiteral("ffmpeg"), { QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), song,
                                                          QStringLiteral("-f"), QStringLiteral("null"), QStringLiteral("-") });
            ffmpegMs.push_back(double(t.nsecsElapsed()) / 1e6);

            t.restart();
            PeakScan scan(song, root.path());
            double first = -1;
            QObject::connect(&scan, &PeakScan::progressed, [&] {
                if (first < 0)
                    first = double(t.nsecsElapsed()) / 1e6;
            });
            QEventLoop loop;
            QObject::connect(&scan, &PeakScan::finished, &loop, &QEventLoop::quit);
            double stall = 0;
            {
                const LoopWatch watch; // the event loop's longest wait while the outline is made
                loop.exec();
                stall = watch.longestMs();
            }
            const double whole = double(t.nsecsElapsed()) / 1e6;
            wholeMs.push_back(whole);
            ratio.push_back(whole / ffmpegMs.back());
            firstMs.push_back(first < 0 ? whole : first);
            stallMs.push_back(stall);
            biggest = std::max(biggest, QFileInfo(PeakScan::storeFile(root.path(), song)).size());

            t.restart();
            PeakScan again(song, root.path());
            QEventLoop wait;
            QObject::connect(&again, &PeakScan::finished, &wait, &QEventLoop::quit);
            wait.exec();
            keptMs.push_back(double(t.nsecsElapsed()) / 1e6);
        }
    }
    std::printf("%lld songs x %d runs (medians)\n", static_cast<long long>(set.songs.size()), set.runs);
    std::printf("  baseline: ffmpeg -i SONG -f null -           %7.1f ms a song\n", median(ffmpegMs));
    std::printf("  outline of a song not seen before            %7.1f ms a song (%.2fx ffmpeg; worst %.2fx)\n", median(wholeMs),
                median(ratio), *std::max_element(ratio.begin(), ratio.end()));
    std::printf("  its first part ready                         %7.1f ms\n", median(firstMs));
    std::printf("  the same song again, from the disk           %7.1f ms (worst %.1f)\n", median(keptMs),
                *std::max_element(keptMs.begin(), keptMs.end()));
    std::printf("  event loop's longest wait meanwhile          %7.1f ms (worst %.1f)\n", median(stallMs),
                *std::max_element(stallMs.begin(), stallMs.end()));
    std::printf("  disk per song, at most                       %7.0f KB\n", double(biggest) / 1024.0);
    return 0;
}
