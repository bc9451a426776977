// The export as the user waits for it: the real window offscreen, a set list of every song of
// a folder, Command9 pressed and answered "はい", timed until the completion message (the
// checks before copying, the folder's creation, the in-order copy at the device's pace, the
// final flush). Beside it in the same run: `cp` of the same files into a new folder followed
// by `sync`, the shortest way to put the same bytes on the same disk for certain.
//
// Two sets: 30 songs of 7 MiB and 300 of 0.5 MiB, on the local disk and (as root) on a
// volume as slow as a USB stick (10 MiB/s, 3 ms a flush). Runs alternate between the two
// ways, each starting with nothing dirty in the page cache; medians are printed. On the slow
// volume every update of the progress bar is compared with the bytes that had reached the
// device by then: the bar must never run ahead of it.
//
// usage: bench_exportwindow [runs=5] [folder] [runs on the slow volume=3]
#include "benchfigures.h"
#include "benchwindow.h"
#include "forms/application.h"
#include "forms/main/form1.h"
#include "model/songtable.h"
#include "platform/desktop/messageboxes.h"
#include "platform/desktop/showfoldersmodule.h"
#include "platform/media/mediaservice.h"
#include "support/fixtures.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <limits>
#include <cstdio>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

class YesBoxes : public MessageBoxes
{
public:
    void inform(QWidget *, const QString &prompt, const QString &) override { said.append(prompt); }
    bool ask(QWidget *, const QString &, const QString &) override { return true; }
    QStringList said;
};

class NoFolderDialog : public FolderDialog
{
public:
    QString chooseFolder(QWidget *, const QString &, const QString &) override { return {}; }
};

bool makeSongs(const QString &folder, int count, qint64 bytes)
{
    QDir().mkpath(folder);
    QByteArray block(qMin<qint64>(bytes, 1024 * 1024), Qt::Uninitialized);
    for (int i = 0; i < count; ++i) {
        QFile f(folder + u"/Song %1.mp3"_s.arg(i + 1, 3, 10, QChar(u'0')));
        if (!f.open(QIODevice::WriteOnly))
            return false;
        for (qint64 done = 0; done < bytes; done += block.size()) {
            for (qsizetype b = 0; b < block.size(); b += 512)
                block[b] = char(i * 31 + done / 512 + b);
            if (f.write(block.constData(), qMin<qint64>(block.size(), bytes - done)) <= 0)
                return false;
        }
    }
    return true;
}

struct Set {
    int songs;
    qint64 bytes;
};

// Exports each set `runs` times through the window into `out`, alternating with cp + sync.
void measure(const QString &work, const QString &out, int runs, const char *where,
             const fixtures::SlowVolume *volume)
{
    for (const Set &set : {Set{30, 7 * 1024 * 1024}, Set{300, 512 * 1024}}) {
        const QString songs = work + u"/songs-%1"_s.arg(set.songs);
        if (!QFileInfo::exists(songs) && !makeSongs(songs, set.songs, set.bytes))
            return;
        YesBoxes boxes;
        NoFolderDialog dialog;
        MediaService media;
        QTemporaryDir settings;
        Form1 form(Form1Services{&boxes, &dialog, &media, settings.path() + u'/'});
        form.show();
        form.findChild<QLineEdit *>(u"Text1"_s)->setText(songs);
        form.findChild<QPushButton *>(u"Command11"_s)->click();
        auto *add = form.findChild<QPushButton *>(u"Command2"_s);
        for (int r = 1; r < form.MSHFlexGrid1().Rows(); ++r) {
            form.MSHFlexGrid1().setRow(r);
            add->click();
        }
        form.findChild<QLineEdit *>(u"Text2"_s)->setText(out);
        auto *name = form.findChild<QLineEdit *>(u"Text3"_s);
        auto *exportButton = form.findChild<QPushButton *>(u"Command9"_s);
        QStringList sourcePaths;
        for (const QString &s : QDir(songs).entryList(QDir::Files, QDir::Name))
            sourcePaths << songs + u'/' + s;
        const qint64 total = set.songs * set.bytes;

        std::vector<double> window, cp;
        int completed = 0;
        qint64 ahead = std::numeric_limits<qint64>::min(), behind = 0;
        int updates = 0;
        for (int r = 0; r < runs; ++r) {
            ::sync();
            name->setText(u"Set %1"_s.arg(r));
            boxes.said.clear();
            const qint64 before = volume ? volume->arrived() : 0;
            if (volume) {
                // The dialog exists once the export runs; its bar is watched from then on.
                QTimer::singleShot(0, &form, [&] {
                    auto *bar = form.findChild<QProgressDialog *>()->findChild<QProgressBar *>();
                    QObject::connect(bar, &QProgressBar::valueChanged, bar, [&, bar](int value) {
                        const qint64 shown = qint64(value) * total / bar->maximum();
                        const qint64 there = volume->arrived() - before;
                        ahead = qMax(ahead, shown - there);
                        behind = qMax(behind, there - shown);
                        ++updates;
                    });
                });
            }
            QElapsedTimer t;
            t.start();
            exportButton->click();
            window.push_back(double(t.nsecsElapsed()) / 1e6);
            completed += boxes.said.size() == 1 && boxes.said.first().startsWith(u"出力完了"_s) ? 1 : 0;

            ::sync();
            const QString target = out + u"/cp %1"_s.arg(r);
            t.start();
            QDir().mkdir(target);
            QProcess::execute(u"cp"_s, sourcePaths + QStringList{target});
            QProcess::execute(u"sync"_s, {});
            cp.push_back(double(t.nsecsElapsed()) / 1e6);
            QDir(target).removeRecursively();
            QDir(out + u"/Set %1"_s.arg(r)).removeRecursively();
        }
        const double w = median(window), c = median(cp);
        std::printf("%s: %d songs x %.1f MiB, median of %d runs (%d of them ended with the completion message)\n",
                    where, set.songs, double(set.bytes) / 1048576.0, runs, completed);
        std::printf("  export through the window (press to message) %9.1f ms\n", w);
        std::printf("  cp of the same files + sync                  %9.1f ms\n", c);
        std::printf("  ratio                                        %9.2f x   (goal <= 1.05 x: %s)\n", w / c,
                    w / c <= 1.05 ? "met" : "MISSED");
        if (volume)
            std::printf("  bar minus bytes on the device, %d updates: at most %+.2f MiB (bound 0: %s); "
                        "behind it at most %.2f MiB\n",
                        updates, double(ahead) / 1048576.0, ahead <= 0 ? "met" : "MISSED",
                        double(behind) / 1048576.0);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    const auto app = windowBenchApp(argc, argv);
    const int runs = argc > 1 ? qMax(1, QByteArray(argv[1]).toInt()) : 5;
    // On the disk the program is built on by default: /tmp may live in memory.
    const QString base = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QCoreApplication::applicationDirPath();
    const int slowRuns = argc > 3 ? qMax(0, QByteArray(argv[3]).toInt()) : 3;
    QTemporaryDir work(base + u"/bench-export-XXXXXX"_s);
    if (!work.isValid() || !QDir().mkpath(work.filePath(u"out"_s)) || !QDir().mkpath(work.filePath(u"slow"_s)))
        return 1;

    measure(work.path(), work.filePath(u"out"_s), runs, "local disk", nullptr);
    if (slowRuns == 0)
        return 0;
    fixtures::SlowVolume volume(work.filePath(u"slow"_s));
    if (!volume.mount(512)) {
        std::printf("slow volume: skipped (%s)\n", qPrintable(volume.why()));
        return 0;
    }
    measure(work.path(), volume.folder(), slowRuns, "slow volume (10 MiB/s, 3 ms a flush)", &volume);
    return 0;
}
