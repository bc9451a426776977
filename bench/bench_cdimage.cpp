// The audio CD image as the user waits for it: the real window offscreen with a
// 60-minute set of 15 songs of real length in the mix of formats performers have
// (MP3 at 320 kbps and VBR, M4A, FLAC, a 48 kHz WAV, Ogg), 音楽CDを作る… chosen,
// no drive found, the image offered and accepted, timed until the completion
// message (the drive scan, the checks, the decoding and the writing). Beside it
// in the same run: ffmpeg decoding the same songs one after another to 44.1 kHz
// 16-bit stereo PCM files in the same folder. Peak memory of this process is
// printed too: the image must never be held whole.
//
// usage: bench_cdimage [runs=3] [folder]   (the songs are made once and kept there)
#include "benchfigures.h"
#include "benchwindow.h"
#include "forms/application.h"
#include "forms/main/mainwindow.h"
#include "platform/desktop/cdimagedialog.h"
#include "platform/desktop/messageboxes.h"
#include "platform/desktop/setlistdialog.h"
#include "platform/desktop/showfoldersmodule.h"
#include "platform/media/mediaservice.h"
#include "support/mediagen.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

struct User : MessageBoxes, FolderDialog, SetListDialog, CdImageDialog
{
    void inform(QWidget *, const QString &prompt, const QString &) override { said.append(prompt); }
    bool ask(QWidget *, const QString &, const QString &) override { return true; }
    QString chooseFolder(QWidget *, const QString &, const QString &) override { return {}; }
    QString fileToOpen(QWidget *, const QString &) override { return {}; }
    QString fileToSave(QWidget *, const QString &) override { return {}; }
    QString cueToSave(QWidget *, const QString &) override { return cue; }
    QStringList said;
    QString cue;
};

} // namespace

int main(int argc, char *argv[])
{
    const auto app = windowBenchApp(argc, argv);
    const ShowSetBench set = showSetBench(argc, argv, u"bench-cd"_s, false);
    if (set.songs.isEmpty())
        return 1;
    const int runs = set.runs;
    const QStringList &songs = set.songs;
    const QString out = set.base + u"/out"_s;
    QDir(out).removeRecursively();
    QDir().mkpath(out);

    User user;
    user.cue = out + u"/Set.cue"_s;
    MediaService media;
    QTemporaryDir settings;
    MainWindow window(Form1Services{ &user, &user, &media, settings.path() + u'/' }, &user);
    window.setCdImageDialog(&user);
    window.show();
    if (!window.form()->replaceSetList(songs, u"Set"_s))
        return 1;
    QAction *make = window.findChild<QAction *>(u"audioCdAction"_s);
    const double rssBefore = peakRssMiB();

    std::vector<double> ours, theirs;
    int completed = 0;
    for (int r = 0; r <= runs; ++r) {
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < songs.size(); ++i)
            MediaGen::ffmpeg({ u"-i"_s, songs[i], u"-ar"_s, u"44100"_s, u"-ac"_s, u"2"_s, u"-f"_s, u"s16le"_s, out + u"/%1.raw"_s.arg(i) });
        const double ffmpegMs = double(t.nsecsElapsed()) / 1e6;
        for (int i = 0; i < songs.size(); ++i)
            QFile::remove(out + u"/%1.raw"_s.arg(i));

        user.said.clear();
        t.start();
        make->trigger();
        const double oursMs = double(t.nsecsElapsed()) / 1e6;
        const bool done = !user.said.isEmpty() && user.said.last().startsWith(u"音楽CDのイメージを作りました"_s);
        if (!done)
            std::printf("  run %d did not end with the completion message: %s\n", r, qPrintable(user.said.join(u" / "_s)));
        // The first round only warms the page cache for both.
        if (r == 0)
            continue;
        completed += done ? 1 : 0;
        theirs.push_back(ffmpegMs);
        ours.push_back(oursMs);
        std::printf("  run %d: window %.0f ms, ffmpeg %.0f ms\n", r, oursMs, ffmpegMs);
    }
    const qint64 imageBytes = QFileInfo(out + u"/Set.bin"_s).size();
    const double o = median(ours), f = median(theirs);
    std::printf("60-minute set, 15 songs (8 MP3, 3 M4A, 2 FLAC, 1 WAV 48 kHz, 1 Ogg), image %.1f MiB, %d cores,\n"
                "median of %d runs (%d ended with the completion message)\n",
                double(imageBytes) / 1048576.0, QThread::idealThreadCount(), runs, completed);
    std::printf("  audio CD image through the window (menu to message) %9.1f ms\n", o);
    std::printf("  ffmpeg, one song after another, to 44.1 kHz PCM     %9.1f ms\n", f);
    std::printf("  ratio                                                %9.2f x   (goal <= 0.6 x: %s)\n", o / f,
                o / f <= 0.6 ? "met" : "MISSED");
    std::printf("  peak memory of this process: %.0f MiB before the first image, %.0f MiB after (goal < 200 MiB)\n",
                rssBefore, peakRssMiB());
    QDir(out).removeRecursively();
    return 0;
}
