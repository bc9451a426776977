// The export of a set with edited songs as the user waits for it: the real
// window offscreen with the 60-minute set of 15 songs, 4 of them transposed
// (Rubber Band's finer engine, offline) and 6 trimmed and faded (the MP3s cut
// in their own frames, the others rendered), 出力形式 元のまま, Command9 pressed
// and answered "はい", timed until the completion message. Beside it in the
// same run: the same set without edits through the window (plain copies), and
// ffmpeg's rubberband filter at pitchq=quality on the same 4 songs plus copying
// the rest, one song after another, then `sync`.
//
// usage: bench_editedexport [runs=1] [folder]   (the songs are made once and kept there)
#include "benchfigures.h"
#include "benchwindow.h"
#include "forms/main/mainwindow.h"
#include "model/exportformat.h"
#include "platform/audio/exportshaping.h"
#include "platform/desktop/messageboxes.h"
#include "platform/desktop/setlistdialog.h"
#include "platform/desktop/showfoldersmodule.h"
#include "platform/media/mediaservice.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>

#include <cmath>
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

// Which songs of the set are transposed (by how much) and which are trimmed.
const QList<std::pair<int, int>> Transposed{ { 0, 2 }, { 4, -3 }, { 6, 1 }, { 9, -2 } };
const QList<int> Trimmed{ 1, 3, 5, 7, 11, 13 };

QList<SetListRowExtras> editsOfTheSet(qsizetype songs, bool edited)
{
    QList<SetListRowExtras> extras(songs);
    if (!edited)
        return extras;
    for (const auto &[song, semitones] : Transposed)
        extras[song].edits.semitones = semitones;
    for (const int song : Trimmed) {
        SongEdits &e = extras[song].edits;
        e.startMs = 2000;
        e.endMs = 180000;
        e.fadeInMs = 2000;
        e.fadeOutMs = 8000;
    }
    return extras;
}

// One export through the window; the time from the press to the message.
double exportThroughWindow(MainWindow &window, User &user, const QString &setName, bool *completed)
{
    ::sync();
    user.said.clear();
    window.form()->findChild<QLineEdit *>(u"Text3"_s)->setText(setName);
    QElapsedTimer t;
    t.start();
    window.form()->findChild<QPushButton *>(u"Command9"_s)->click();
    const double ms = double(t.nsecsElapsed()) / 1e6;
    *completed = user.said.size() == 1 && user.said.first().startsWith(u"出力完了"_s);
    if (!*completed)
        std::printf("  %s did not end with the completion message: %s\n", qPrintable(setName), qPrintable(user.said.join(u" / "_s)));
    return ms;
}

} // namespace

int main(int argc, char *argv[])
{
    const auto app = windowBenchApp(argc, argv);
    const bool runsGiven = argc > 1;
    ShowSetBench set = showSetBench(argc, argv, u"bench-formats"_s, false);
    if (set.songs.isEmpty())
        return 1;
    const int runs = runsGiven ? set.runs : 1;
    const QStringList &songs = set.songs;
    const QString out = set.base + u"/edited-out"_s;
    QDir(out).removeRecursively();
    QDir().mkpath(out);

    User user;
    MediaService media;
    QTemporaryDir settings;
    MainWindow window(Form1Services{ &user, &user, &media, settings.path() + u'/' }, &user);
    window.show();
    window.form()->findChild<QLineEdit *>(u"Text2"_s)->setText(out);
    window.findChild<QAction *>(u"exportFormat_"_s + ExportFormat::word(ExportFormat::Format::Original))->trigger();

    // The plan the window makes for the edited set, for ffmpeg to write the
    // transposed songs under the same names.
    QList<SetListRow> rows;
    const QList<SetListRowExtras> edited = editsOfTheSet(songs.size(), true);
    for (qsizetype i = 0; i < songs.size(); ++i)
        rows.append({ int(i) + 1, QString::number(i + 1).rightJustified(2, u'0'), songs[i], edited[i].edits, {} });
    ExportPlan plan = planExport(rows, out, u"ffmpeg"_s);
    ExportShaping::shape(plan, ExportFormat::Format::Original, std::nullopt, {});

    std::vector<double> ours, plain, theirs;
    int completed = 0;
    for (int r = 0; r < runs; ++r) {
        ::sync();
        QElapsedTimer t;
        t.start();
        QDir().mkpath(plan.folder);
        for (const ExportItem &item : plan.items) {
            const QString target = plan.folder + u'/' + item.exportName;
            if (!item.edits.stretches()) {
                QFile::copy(item.sourcePath, target);
                continue;
            }
            QStringList args{ u"-nostdin"_s, u"-v"_s, u"error"_s, u"-y"_s, u"-i"_s, item.sourcePath, u"-map"_s, u"0:a:0"_s, u"-af"_s,
                              u"rubberband=pitch=%1:pitchq=quality"_s.arg(std::pow(2.0, item.edits.semitones / 12.0), 0, 'f', 6) };
            if (target.endsWith(u".mp3"_s))
                args << u"-b:a"_s << u"320k"_s;
            QProcess::execute(u"ffmpeg"_s, args << target);
        }
        QProcess::execute(u"sync"_s, {});
        theirs.push_back(double(t.nsecsElapsed()) / 1e6);
        QDir(plan.folder).removeRecursively();

        bool done = false;
        if (!window.form()->replaceSetList(songs, u"Set"_s, editsOfTheSet(songs.size(), false)))
            return 1;
        plain.push_back(exportThroughWindow(window, user, u"Plain %1"_s.arg(r), &done));
        QDir(out + u"/Plain %1"_s.arg(r)).removeRecursively();
        if (!window.form()->replaceSetList(songs, u"Set"_s, edited))
            return 1;
        ours.push_back(exportThroughWindow(window, user, u"Edited %1"_s.arg(r), &done));
        completed += done ? 1 : 0;
        QDir(out + u"/Edited %1"_s.arg(r)).removeRecursively();
    }
    std::printf("出力形式 元のまま, 15 songs (60 minutes): %d transposed, %d trimmed and faded; %d cores, median of %d runs "
                "(%d ended with the completion message)\n",
                int(Transposed.size()), int(Trimmed.size()), QThread::idealThreadCount(), runs, completed);
    std::printf("  edited set through the window (press to message)         %9.1f ms\n", median(ours));
    std::printf("  the same set unedited through the window                 %9.1f ms\n", median(plain));
    std::printf("  ffmpeg rubberband (pitchq=quality) on 4 + copies, + sync %9.1f ms\n", median(theirs));
    std::printf("  ratio edited / ffmpeg                                    %9.2f x\n", median(ours) / median(theirs));
    QDir(out).removeRecursively();
    return 0;
}
