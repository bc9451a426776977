// The show's GO as the performer hears it, through the real show window and the sound
// server's null sink, heard at its monitor: key press to the first sound of the next song,
// armed while the one before played, with both cores busy. Beside it, in the same run and
// under the same load, the preview's press to sound on an armed song (F5 in the main window).
//
// usage (inside scripts/session.sh, which starts the null sink):
//   bench_show [GOs=100] [songs-folder] [busy-threads=2]
// busy-threads 0 when something else keeps both cores busy already (bench_showhour).
#include "benchaudio.h"
#include "benchwindow.h"

#include "forms/main/mainwindow.h"
#include "forms/show/showcontroller.h"
#include "forms/show/showwindow.h"
#include "platform/audio/player/audioplayer.h"
#include "platform/desktop/showfoldersmodule.h"
#include "platform/media/mediaservice.h"

#include <QAction>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

// GO on each song of the set in turn: the next song armed and left to settle as it would
// during the song before, the guard's 400 ms passed, then Space, timed to the first sound;
// Esc twice cuts the song. A show played to its end is closed and opened again.
std::vector<double> goes(MainWindow &window, MediaService &media, Monitor &monitor, QuietBoxes &boxes, int count)
{
    std::vector<double> ms;
    ShowController *shows = window.showController();
    boxes.answer = true;
    while (int(ms.size()) < count) {
        ShowWindow *show = shows->window();
        if (show && !show->run().selected()) {
            show->close();
            QTest::qWait(200);
            continue;
        }
        if (!show) {
            window.findChild<QAction *>(u"showAction"_s)->trigger();
            show = shows->window();
            if (!show)
                return ms;
        }
        const QString next = show->run().selected()->path;
        for (int waited = 0; media.state(next) != PlaybackControl::State::Armed && waited < 3000; waited += 10)
            QTest::qWait(10);
        QTest::qWait(1200);
        const auto from = Clock::now();
        QTest::keyPress(show, Qt::Key_Space);
        ms.push_back(monitor.soundAfter(from, 2000));
        QTest::keyRelease(show, Qt::Key_Space);
        QTest::keyClick(show, Qt::Key_Escape);
        QTest::keyClick(show, Qt::Key_Escape);
        QTest::qWait(300);
    }
    if (ShowWindow *show = shows->window())
        show->close();
    return ms;
}

} // namespace

int main(int argc, char **argv)
{
    auto app = windowBenchApp(argc, argv);
    const int count = argc > 1 ? qMax(1, QByteArray(argv[1]).toInt()) : 100;
    const auto [songs, sink] = setAndSink(argc, argv);
    if (songs.isEmpty())
        return 1;
    Monitor monitor(sink);
    BenchPlayerWindow bench(songs);
    MediaService &media = bench.media;
    MainWindow &window = bench.window;
    QuietBoxes &boxes = bench.boxes;

    std::printf("GO to sound, %d GOs, songs of 3:30-4:30 in the set's mix of formats, both cores busy\n", count);
    Load load(argc > 3 ? qMax(0, QByteArray(argv[3]).toInt()) : 2);
    const int before = media.player().underruns();
    const std::vector<double> go = goes(window, media, monitor, boxes, count);
    print("show: GO (Space), next song armed", figures(go), media.player().underruns() - before);
    // Which GOs were slow: the first of a show, or any.
    std::printf("  GOs over 40 ms:");
    for (size_t i = 0; i < go.size(); ++i)
        if (go[i] > 40 || go[i] < 0)
            std::printf(" #%zu (song %zu) %.0f ms", i + 1, i % size_t(songs.size()) + 1, go[i]);
    std::printf("\n");
    boxes.answer = false;
    print("preview: F5 on an armed song", figures(windowPresses(window, media, monitor, songs, count, true)),
          media.player().underruns() - before);
    return 0;
}
