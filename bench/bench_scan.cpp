// The library scan on a folder of 10,000 entries, beside the I/O floor on the same folder.
//
// Scan: a real main window on the offscreen platform, Text1 set to the folder and Command11
// clicked, exactly what a user does: list, probe in parallel behind the progress dialog, fill,
// sort and number the table. Floor: list the folder, open every entry, read its first 64 KiB
// and its last 4 KiB, close it - the least any scan that reads each file's headers must do.
// Both are timed with a warm page cache (median of several runs after a warm-up), and when
// run as root also with a cold one (the page cache dropped before each run).
// Also prints the share of the distinct generated files whose shown length equals a full
// decode's.
//
// usage: bench_scan [entries=10000] [warm-runs=5] [cold-runs=3]
#include "forms/application.h"
#include "forms/form1.h"
#include "model/songtable.h"
#include "platform/media/libraryscanner.h"
#include "platform/media/mediaprobe.h"
#include "platform/media/mediaservice.h"
#include "platform/desktop/messageboxes.h"
#include "platform/desktop/showfoldersmodule.h"
#include "support/mediagen.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

class SilentBoxes : public MessageBoxes
{
public:
    void inform(QWidget *, const QString &prompt, const QString &) override { said.append(prompt); }
    bool ask(QWidget *, const QString &prompt, const QString &) override
    {
        said.append(prompt);
        return false;
    }
    QStringList said;
};

class NoFolderDialog : public FolderDialog
{
public:
    QString chooseFolder(QWidget *, const QString &, const QString &) override { return {}; }
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double floorMs(const QString &folder)
{
    QElapsedTimer t;
    t.start();
    std::vector<char> buffer(64 * 1024);
    for (const QString &name : LibraryScanner::listFolder(folder)) {
        const int fd = ::open(QFile::encodeName(folder + u'/' + name).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        (void)::pread(fd, buffer.data(), buffer.size(), 0);
        const off_t size = ::lseek(fd, 0, SEEK_END);
        if (size > 4096)
            (void)::pread(fd, buffer.data(), 4096, size - 4096);
        ::close(fd);
    }
    return double(t.nsecsElapsed()) / 1e6;
}

bool dropPageCache()
{
    ::sync();
    QFile f(u"/proc/sys/vm/drop_caches"_s);
    return f.open(QIODevice::WriteOnly) && f.write("3\n") == 2;
}

// Builds the library: `entries` entries, almost all copies (real copies, each its own file)
// of the distinct songs, plus a few folders and files that are not songs.
int buildLibrary(const QString &library, const QStringList &songs, int entries)
{
    QDir dir(library);
    int made = 0;
    const QStringList folders = {u"Disc 1"_s, u"Disc 2"_s, u"Live.001"_s, u"Rehearsal"_s, u".hidden"_s};
    for (const QString &f : folders)
        made += dir.mkdir(f) ? 1 : 0;
    const QList<std::pair<QString, QByteArray>> others = {
        {u"setlist notes.txt"_s, "Friday: open with the slow one\n"_ba},
        {u"cover.jpg"_s, QByteArray(30000, '\x5A')},
        {u".DS_Store"_s, QByteArray(6148, '\0')},
        {u"README"_s, "band folder\n"_ba},
        {u"empty.mp3"_s, QByteArray()},
        {u"broken.mp3"_s, "ID3\x04\x00\x00\x00\x00\x00\x10"_ba + QByteArray(4000, '\x01')},
        {u"ab"_s, "too short a name to be listed\n"_ba},
    };
    for (const auto &[name, bytes] : others) {
        QFile f(dir.filePath(name));
        if (f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size())
            ++made;
    }
    for (int i = 0; made < entries; ++i) {
        const QString &song = songs[i % songs.size()];
        const QFileInfo info(song);
        const QString target = dir.filePath(u"%1 %2"_s.arg(i, 5, 10, QLatin1Char('0')).arg(info.fileName()));
        if (!QFile::copy(song, target))
            return -1;
        ++made;
    }
    return made;
}

struct Figures {
    double scanMs = 0;
    double floorMs = 0;
};

Figures measure(int runs, const std::function<double()> &scan, const QString &library, bool cold)
{
    std::vector<double> scans, floors;
    for (int r = 0; r < runs; ++r) {
        if (cold && !dropPageCache())
            return {};
        floors.push_back(floorMs(library));
        if (cold && !dropPageCache())
            return {};
        scans.push_back(scan());
    }
    return {median(scans), median(floors)};
}

void report(const char *what, const Figures &f, double goal)
{
    const double ratio = f.scanMs / f.floorMs;
    std::printf("%s\n", what);
    std::printf("  scan (list, probe, fill, sort, number) %9.1f ms\n", f.scanMs);
    std::printf("  I/O floor (list, open, 64 KiB + 4 KiB) %9.1f ms\n", f.floorMs);
    std::printf("  scan / floor                           %9.2f x   (goal <= %.1f x: %s)\n", ratio, goal,
                ratio <= goal ? "met" : "MISSED");
}

} // namespace

int main(int argc, char *argv[])
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // figures appear as they are measured
    // The window is real but never needs a screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    selectMediaBackend();
    Application::setIdentity();
    QApplication app(argc, argv);
    Application::prepare(app);

    const int entries = argc > 1 ? qMax(100, QByteArray(argv[1]).toInt()) : 10000;
    const int warmRuns = argc > 2 ? qMax(1, QByteArray(argv[2]).toInt()) : 5;
    const int coldRuns = argc > 3 ? qMax(1, QByteArray(argv[3]).toInt()) : 3;
    if (const QStringList missing = MediaGen::missingTools(); !missing.isEmpty()) {
        std::printf("missing tools: %s\n", qPrintable(missing.join(u", "_s)));
        return 1;
    }

    QTemporaryDir work;
    const QString songsDir = work.filePath(u"songs"_s);
    const QString library = work.filePath(u"library"_s);
    QDir().mkpath(songsDir);
    QDir().mkpath(library);

    // The distinct songs: every kind at three lengths, none within 50 ms of a whole second so
    // that a match is a real match. They are also the accuracy corpus.
    QElapsedTimer t;
    t.start();
    QStringList songs;
    int matching = 0;
    for (const MediaGen::Kind &kind : MediaGen::corpusKinds()) {
        for (double seconds : {1.37, 2.62, 4.21}) {
            const QString dir = songsDir + u"/%1-%2"_s.arg(kind.name).arg(seconds);
            QDir().mkpath(dir);
            const auto file = MediaGen::corpusFile(dir, kind, seconds);
            const auto decoded = file ? MediaGen::decodedLengthMs(*file) : std::nullopt;
            if (!decoded)
                continue;
            songs.append(*file);
            const auto probed = MediaProbe::lengthMs(*file);
            matching += probed && MediaGen::sameShownLength(*probed, *decoded) ? 1 : 0;
        }
    }
    if (songs.isEmpty()) {
        std::printf("could not generate any song\n");
        return 1;
    }
    const int made = buildLibrary(library, songs, entries);
    if (made < 0) {
        std::printf("could not copy the songs into %s\n", qPrintable(library));
        return 1;
    }
    std::printf("Library: %d entries (%lld distinct songs copied, folders, other files) made in %.1f s\n", made,
                qlonglong(songs.size()), double(t.elapsed()) / 1000.0);
    std::printf("Accuracy: %d of %lld distinct songs (%.1f%%) show the same length as a full decode\n\n",
                matching, qlonglong(songs.size()), 100.0 * matching / double(songs.size()));

    SilentBoxes boxes;
    NoFolderDialog dialog;
    MediaService media;
    QTemporaryDir settings;
    Form1 form(Form1Services{&boxes, &dialog, &media, settings.path() + u'/'});
    form.show();
    int rows = 0;
    auto scan = [&] {
        form.findChild<QLineEdit *>(u"Text1"_s)->setText(library);
        QElapsedTimer timer;
        timer.start();
        form.findChild<QPushButton *>(u"Command11"_s)->click();
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        rows = form.MSHFlexGrid1().Rows() - 1;
        return ms;
    };

    std::printf("Readers for this storage: %d\n\n", LibraryScanner::readerCountFor(library));
    (void)scan(); // warm the page cache, the libraries and the window
    (void)floorMs(library);
    report("Warm cache, median of runs", measure(warmRuns, scan, library, false), 3.0);
    // Where the scan's time goes: the listing and parallel probing alone, as the window runs
    // them; the rest is the window filling, sorting and numbering its table.
    auto probeOnly = [&] {
        QElapsedTimer timer;
        timer.start();
        QStringList paths;
        for (const QString &name : LibraryScanner::listFolder(library)) {
            if (name.size() >= 3)
                paths << library + QDir::separator() + name;
        }
        (void)LibraryScanner::probeAll(media, paths).result();
        return double(timer.nsecsElapsed()) / 1e6;
    };
    std::vector<double> probes;
    for (int r = 0; r < warmRuns; ++r)
        probes.push_back(probeOnly());
    std::printf("  of which list + parallel probe alone   %9.1f ms   (the window's fill, sort, number: the rest)\n",
                median(probes));
    if (::geteuid() == 0) {
        const Figures cold = measure(coldRuns, scan, library, true);
        if (cold.floorMs > 0)
            report("\nCold cache (page cache dropped before each run), median of runs", cold, 1.5);
        else
            std::printf("\nCold cache: cannot drop the page cache here\n");
    } else {
        std::printf("\nCold cache: not measured (needs root to drop the page cache)\n");
    }
    std::printf("\nTable rows after the scan: %d; messages shown: %lld\n", rows, qlonglong(boxes.said.size()));
    for (const QString &s : std::as_const(boxes.said))
        std::printf("  %s\n", qPrintable(s));
    return 0;
}
