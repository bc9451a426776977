// The edit panel as a performer opens it, in the real window, on each song of the 60-minute
// set (3:30-4:30, the set's mix of formats): the song not seen before, until the first part
// of its picture and until the whole of it is drawn, beside ffmpeg decoding the same song to
// nothing; the panel opened again on a song seen before, until it is drawn; and the event
// loop's longest wait meanwhile (a 1 ms timer's lateness): the window must never stall.
//
// usage (inside scripts/session.sh): bench_editpanel [runs=1] [songs-folder]
#include "benchaudio.h"
#include "benchwindow.h"

#include "forms/edits/songeditscontroller.h"
#include "forms/edits/songeditspanel.h"
#include "forms/main/mainwindow.h"
#include "forms/waveform/songeditview.h"
#include "platform/audio/peaks/peakscan.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>

#include <cstdio>

int main(int argc, char **argv)
{
    auto app = windowBenchApp(argc, argv);
    const ShowSetBench set = showSetBench(argc, argv, QStringLiteral("player-songs"), false);
    if (set.songs.isEmpty())
        return 1;
    QDir(PeakScan::defaultRoot()).removeRecursively();
    BenchPlayerWindow bench(set.songs);
    SongEditsController *edits = bench.window.editsController();
    std::vector<double> ffmpegMs, firstMs, wholeMs, seenMs, stallMs;
    for (int pass = 0; pass < 2; ++pass) {
        for (qsizetype row = 1; row <= set.songs.size(); ++row) {
            if (pass == 0) {
                QElapsedTimer t;
                t.start();
                QProcess::execute(QStringLiteral("ffmpeg"), { QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"),
                                                              set.songs[row - 1], QStringLiteral("-f"), QStringLiteral("null"),
                                                              QStringLiteral("-") });
                ffmpegMs.push_back(double(t.nsecsElapsed()) / 1e6);
            }
            QElapsedTimer opened;
            double stall = 0;
            edits->setPanelHook([&](SongEditsPanel *panel) {
                auto *view = panel->findChild<SongEditView *>(QStringLiteral("songEditView"));
                const LoopWatch watch;
                double first = -1;
                while (!view->hasWholeOutline() && opened.elapsed() < 20000) {
                    if (first < 0 && view->hasOutline())
                        first = double(opened.nsecsElapsed()) / 1e6;
                    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
                }
                const double whole = double(opened.nsecsElapsed()) / 1e6;
                (pass == 0 ? wholeMs : seenMs).push_back(whole);
                if (pass == 0)
                    firstMs.push_back(first < 0 ? whole : first);
                stall = watch.longestMs();
                panel->reject();
            });
            opened.start();
            edits->editRow(int(row));
            stallMs.push_back(stall);
            if (stall > 16)
                std::printf("  (pass %d, song %lld: the event loop waited %.1f ms)\n", pass + 1, static_cast<long long>(row), stall);
        }
    }
    std::vector<double> ratio;
    for (size_t i = 0; i < wholeMs.size(); ++i)
        ratio.push_back(wholeMs[i] / ffmpegMs[i]);
    std::printf("%lld songs, the edit panel in the real window (medians)\n", static_cast<long long>(set.songs.size()));
    std::printf("  baseline: ffmpeg -i SONG -f null -           %7.1f ms a song\n", median(ffmpegMs));
    std::printf("  not seen before: first part of the picture   %7.1f ms after the panel was asked for\n", median(firstMs));
    std::printf("  not seen before: the whole picture           %7.1f ms (%.2fx ffmpeg; worst %.2fx)\n", median(wholeMs),
                median(ratio), *std::max_element(ratio.begin(), ratio.end()));
    std::printf("  seen before: drawn                           %7.1f ms (worst %.1f)\n", median(seenMs),
                *std::max_element(seenMs.begin(), seenMs.end()));
    std::printf("  event loop's longest wait                    %7.1f ms (worst %.1f)\n", median(stallMs),
                *std::max_element(stallMs.begin(), stallMs.end()));
    return 0;
}
