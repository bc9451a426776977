// The export for the venue's player as the user waits for it: the real window
// offscreen with the 60-minute set of 15 songs at levels of their own (MP3 at
// 320 kbps and VBR, M4A, FLAC, a 48 kHz WAV, Ogg), the export's options chosen in
// the menu, Command9 pressed and answered "はい", timed until the completion
// message (the level plan, the conversions on all cores, the in-order copy, the
// final flush). The songs' loudness is measured before, as the window does while
// the set is built. Beside it in the same run: ffmpeg writing the same files one
// after another (the same format for each song, the same gain) and `sync`.
// Peak memory of this process is printed too.
//
// usage: bench_exportformats [runs=3] [folder]   (the songs are made once and kept there)
#include "benchfigures.h"
#include "benchwindow.h"
#include "forms/application.h"
#include "forms/main/mainwindow.h"
#include "model/exportformat.h"
#include "model/levelmatch.h"
#include "platform/audio/exportshaping.h"
#include "platform/audio/loudness/loudnessservice.h"
#include "platform/desktop/messageboxes.h"
#include "platform/desktop/setlistdialog.h"
#include "platform/desktop/showfoldersmodule.h"
#include "platform/media/lengthcache.h"
#include "platform/media/mediaservice.h"
#include "support/mediagen.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

struct User : MessageBoxes, FolderDialog, SetListDialog
{
    void inform(QWidget *, const QString &prompt, const QString &) override { said.append(prompt); }
    bool ask(QWidget *, const QString &, const QString &) override { return true; }
    QString chooseFolder(QWidget *, const QString &, const QString &) override { return {}; }
    QString fileToOpen(QWidget *, const QString &) override { return {}; }
    QString fileToSave(QWidget *, const QString &) override { return {}; }
    QStringList said;
};

// ffmpeg's arguments for writing the song as the plan's item says.
QStringList ffmpegFor(const ExportItem &item, const QString &out)
{
    QStringList args{ u"-nostdin"_s, u"-v"_s, u"error"_s, u"-y"_s, u"-i"_s, item.sourcePath, u"-map"_s, u"0:a:0"_s };
    if (item.conversion.gainDb != 0)
        args << u"-af"_s << u"volume=%1dB"_s.arg(item.conversion.gainDb);
    switch (item.conversion.kind) {
    case SongConversion::Kind::ToMp3:
        args << u"-ar"_s << u"44100"_s << u"-ac"_s << u"2"_s << u"-b:a"_s << u"320k"_s;
        break;
    case SongConversion::Kind::ToWav:
        args << u"-ar"_s << u"44100"_s << u"-ac"_s << u"2"_s << u"-c:a"_s << u"pcm_s16le"_s;
        break;
    case SongConversion::Kind::Mp3FrameGain:
    case SongConversion::Kind::Mp3Edit:
        // ffmpeg cannot move an MP3's frame gain; it encodes the song again.
        args << u"-b:a"_s << u"320k"_s;
        break;
    case SongConversion::Kind::Rewrite:
    case SongConversion::Kind::Copy:
        break;
    }
    return args << out + u'/' + item.exportName;
}

} // namespace

int main(int argc, char *argv[])
{
    const auto app = windowBenchApp(argc, argv);
    const ShowSetBench set = showSetBench(argc, argv, u"bench-formats"_s, true);
    if (set.songs.isEmpty())
        return 1;
    const int runs = set.runs;
    const QStringList &songs = set.songs;
    const QString out = set.base + u"/out"_s;
    QDir(out).removeRecursively();
    QDir().mkpath(out);

    User user;
    MediaService media;
    QTemporaryDir settings;
    MainWindow window(Form1Services{ &user, &user, &media, settings.path() + u'/' }, &user);
    window.show();
    if (!window.form()->replaceSetList(songs, u"Set"_s))
        return 1;
    window.form()->findChild<QLineEdit *>(u"Text2"_s)->setText(out);
    auto *name = window.form()->findChild<QLineEdit *>(u"Text3"_s);
    auto *press = window.form()->findChild<QPushButton *>(u"Command9"_s);
    const QList<std::optional<Loudness>> loudness = LoudnessService::measureAll(songs, LengthCache::defaultRoot());
    const LevelMatch::Plan levels = LevelMatch::plan(loudness);
    window.findChild<QAction *>(u"matchLevelsAction"_s)->trigger();
    const double rssBefore = peakRssMiB();

    for (const ExportFormat::Format format : { ExportFormat::Format::Mp3, ExportFormat::Format::Original, ExportFormat::Format::Wav }) {
        window.findChild<QAction *>(u"exportFormat_"_s + ExportFormat::word(format))->trigger();
        // The same plan the window makes, for ffmpeg to follow.
        QList<SetListRow> rows;
        for (qsizetype i = 0; i < songs.size(); ++i)
            rows.append({ int(i) + 1, QString::number(i + 1).rightJustified(2, u'0'), songs[i], {}, {} });
        ExportPlan plan = planExport(rows, out, u"ffmpeg"_s);
        ExportShaping::shape(plan, format, levels, loudness);

        std::vector<double> ours, theirs;
        int completed = 0;
        qint64 bytes = 0;
        for (int r = 0; r <= runs; ++r) {
            ::sync();
            QElapsedTimer t;
            t.start();
            QDir().mkpath(plan.folder);
            for (const ExportItem &item : plan.items) {
                if (item.conversion.kind == SongConversion::Kind::Copy)
                    QFile::copy(item.sourcePath, plan.folder + u'/' + item.exportName);
                else
                    QProcess::execute(u"ffmpeg"_s, ffmpegFor(item, plan.folder));
            }
            QProcess::execute(u"sync"_s, {});
            const double ffmpegMs = double(t.nsecsElapsed()) / 1e6;
            QDir(plan.folder).removeRecursively();

            ::sync();
            user.said.clear();
            name->setText(u"Set %1"_s.arg(r));
            t.start();
            press->click();
            const double oursMs = double(t.nsecsElapsed()) / 1e6;
            const bool done = user.said.size() == 1 && user.said.first().startsWith(u"出力完了"_s);
            if (!done)
                std::printf("  run %d did not end with the completion message: %s\n", r, qPrintable(user.said.join(u" / "_s)));
            bytes = 0;
            for (const QFileInfo &f : QDir(out + u"/Set %1"_s.arg(r)).entryInfoList(QDir::Files))
                bytes += f.size();
            QDir(out + u"/Set %1"_s.arg(r)).removeRecursively();
            // The first round only warms the page cache for both.
            if (r == 0)
                continue;
            completed += done ? 1 : 0;
            theirs.push_back(ffmpegMs);
            ours.push_back(oursMs);
        }
        const double o = median(ours), f = median(theirs);
        int converted = 0;
        for (const ExportItem &item : plan.items)
            converted += item.conversion.kind != SongConversion::Kind::Copy;
        std::printf("出力形式 %s with matched levels: %d of 15 songs written anew, %.1f MiB, %d cores, median of %d runs "
                    "(%d ended with the completion message)\n",
                    qPrintable(ExportFormat::caption(format)), converted, double(bytes) / 1048576.0,
                    QThread::idealThreadCount(), runs, completed);
        std::printf("  export through the window (press to message)   %9.1f ms\n", o);
        std::printf("  ffmpeg, one song after another, + sync         %9.1f ms\n", f);
        std::printf("  ratio                                          %9.2f x\n", o / f);
    }
    std::printf("peak memory of this process: %.0f MiB before the first export, %.0f MiB after\n", rssBefore, peakRssMiB());
    QDir(out).removeRecursively();
    return 0;
}
