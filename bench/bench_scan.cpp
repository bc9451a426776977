// The library scan through the real window, on two libraries, beside the I/O floor.
//
// Libraries: 10,000 entries copied from short songs of every kind the program reads (the
// accuracy corpus), and 500 entries copied from 20 songs of 3-5 minutes in the mix performers
// keep (MP3 CBR with an Info header, VBR with a Xing header, VBR with none, MP3 with cover art,
// M4A with its index at the end, FLAC, WAV, Ogg Vorbis). Every entry is its own file.
//
// For each library, median of several runs, warm page cache, and cold (dropped before each
// run) when run as root:
//   first scan   Form1 with the real window offscreen, Text1 set and Command11 clicked, the
//                kept lengths removed before each run; beside the floor: list the folder, open
//                every entry, read its first 64 KiB and last 4 KiB, close it, and read whole the
//                files whose frames must be counted (no length is written anywhere in them).
//   second scan  the same click with the lengths kept by the scan before; beside listing the
//                folder and stat-ing every entry.
//   engine       the parallel probe alone, the way it read before it held each file's head and
//                tail (the libraries reading the descriptor) and the way it reads now.
//   full walks   probing only the files whose frames are counted, beside reading them as
//                `cat` does (in this process, 128 KiB reads).
// Cold runs drop the page cache and then read back the program's own libraries: the songs'
// disk is cold, the running program is not.
//   system calls per entry (when strace is installed): the probe of the song library's
//                entries under `strace -f -c`, before and now.
//
// usage: bench_scan [small-entries=10000] [warm-runs=5] [cold-runs=3] [song-entries=500] [songs-folder]
//        (a songs folder given is kept: the songs generated into it serve the next run)
//        bench_scan --probe <list-file> <best|unbuffered>   (the probe alone, for strace)
#include "forms/application.h"
#include "forms/main/form1.h"
#include "model/songtable.h"
#include "platform/desktop/messageboxes.h"
#include "platform/desktop/showfoldersmodule.h"
#include "platform/media/lengthcache.h"
#include "platform/media/libraryscanner.h"
#include "platform/media/mediaprobe.h"
#include "platform/media/mediaservice.h"
#include "support/mediagen.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
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

// Lengths read the way the probe read them before it held each file's head and tail.
class UnbufferedMedia : public MediaCommands
{
public:
    int sendString(const QString &command, QString *reply, int capacity) override
    {
        const auto c = MediaService::parse(command);
        struct stat st {};
        // The service's former open: a look at the entry of its own.
        if (c && c->word == "open"_L1)
            return ::stat(QFile::encodeName(c->path).constData(), &st) == 0 && S_ISREG(st.st_mode) ? 0 : 2;
        if (!c || c->word != "status"_L1 || !reply)
            return 0;
        const auto ms = MediaProbe::lengthMs(c->path, MediaProbe::Method::Unbuffered);
        const QString digits = QString::number(qint64(std::nearbyint(ms.value_or(0)))).left(capacity - 1);
        reply->replace(0, digits.size(), digits);
        return 0;
    }
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double msSince(const QElapsedTimer &t) { return double(t.nsecsElapsed()) / 1e6; }

// Entries whose frames are counted: their kinds carry no length anywhere.
bool walked(const QString &name)
{
    for (const char *kind : {"vbr-plain", "vbr-cover", "adts", "ac3", "mp2"}) {
        if (name.contains(QLatin1StringView(kind)))
            return true;
    }
    return false;
}

void readWhole(int fd, std::vector<char> &buffer)
{
    while (::read(fd, buffer.data(), buffer.size()) > 0) {
    }
}

double floorMs(const QString &folder)
{
    QElapsedTimer t;
    t.start();
    std::vector<char> buffer(1024 * 1024);
    for (const QString &name : LibraryScanner::listFolder(folder)) {
        const int fd = ::open(QFile::encodeName(folder + u'/' + name).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        if (walked(name)) {
            readWhole(fd, buffer);
        } else {
            (void)::pread(fd, buffer.data(), 64 * 1024, 0);
            const off_t size = ::lseek(fd, 0, SEEK_END);
            if (size > 4096)
                (void)::pread(fd, buffer.data(), 4096, size - 4096);
        }
        ::close(fd);
    }
    return msSince(t);
}

double listAndStatMs(const QString &folder)
{
    QElapsedTimer t;
    t.start();
    struct stat st {};
    for (const QString &name : LibraryScanner::listFolder(folder))
        (void)::stat(QFile::encodeName(folder + u'/' + name).constData(), &st);
    return msSince(t);
}

// What `cat` does, in this process so that starting a program is not counted: open, read
// in 128 KiB blocks to the end, close.
double catMs(const QStringList &files)
{
    QElapsedTimer t;
    t.start();
    std::vector<char> buffer(128 * 1024);
    for (const QString &file : files) {
        const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        readWhole(fd, buffer);
        ::close(fd);
    }
    return msSince(t);
}

// Drops the page cache, then reads back the files this program runs from (its libraries and
// fonts): the songs' disk goes cold, the program stays as it is while the user works in it.
bool dropPageCache()
{
    ::sync();
    QFile f(u"/proc/sys/vm/drop_caches"_s);
    if (!f.open(QIODevice::WriteOnly) || f.write("3\n") != 2)
        return false;
    f.close();
    QFile maps(u"/proc/self/maps"_s);
    if (!maps.open(QIODevice::ReadOnly))
        return true;
    QList<QByteArray> files;
    for (const QByteArray &line : maps.readAll().split('\n')) {
        if (const qsizetype slash = line.indexOf('/'); slash >= 0)
            files << line.mid(slash);
    }
    // Files held open (fonts, among others).
    for (const QString &fd : QDir(u"/proc/self/fd"_s).entryList(QDir::Files | QDir::System)) {
        const QFileInfo link(u"/proc/self/fd/"_s + fd);
        if (link.symLinkTarget().startsWith(u'/') && QFileInfo(link.symLinkTarget()).isFile())
            files << QFile::encodeName(link.symLinkTarget());
    }
    QSet<QByteArray> seen;
    std::vector<char> buffer(1024 * 1024);
    for (const QByteArray &file : std::as_const(files)) {
        if (seen.contains(file))
            continue;
        seen.insert(file);
        const int fd = ::open(file.constData(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            readWhole(fd, buffer);
            ::close(fd);
        }
    }
    return true;
}

// Copies the songs into `library` until it holds `entries` entries, with a few folders and
// files that are not songs among them.
int buildLibrary(const QString &library, const QStringList &songs, int entries)
{
    QDir dir(library);
    int made = 0;
    for (const QString &f : {u"Disc 1"_s, u"Disc 2"_s, u"Live.001"_s, u"Rehearsal"_s, u".hidden"_s})
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

// Generates songs of `kinds` at `seconds` each; counts those whose probed length matches a
// full decode.
QStringList makeSongs(const QString &folder, const QList<std::pair<MediaGen::Kind, double>> &kinds, int *matching)
{
    QStringList songs;
    int n = 0;
    for (const auto &[kind, seconds] : kinds) {
        const QString dir = folder + u"/%1-%2"_s.arg(++n).arg(kind.name);
        const QString named = dir + u"/%1-%2.%3"_s.arg(n).arg(kind.name, kind.extension);
        QDir().mkpath(dir);
        if (!QFileInfo::exists(named)) {
            const auto file = MediaGen::corpusFile(dir, kind, seconds);
            if (!file)
                continue;
            QFile::rename(*file, named);
        }
        const auto decoded = MediaGen::decodedLengthMs(named);
        if (!decoded)
            continue;
        songs.append(named);
        const auto probed = MediaProbe::lengthMs(named);
        *matching += probed && MediaGen::sameShownLength(*probed, *decoded) ? 1 : 0;
    }
    return songs;
}

struct Pair {
    double subject = 0;
    double baseline = 0;
};

// Median of `runs` of subject and baseline, alternated, the page cache dropped before each
// when cold.
std::optional<Pair> measure(int runs, bool cold, const std::function<double()> &subject,
                            const std::function<double()> &baseline, const std::function<void()> &before = {})
{
    std::vector<double> s, b;
    for (int r = 0; r < runs; ++r) {
        if (cold && !dropPageCache())
            return std::nullopt;
        b.push_back(baseline());
        if (before)
            before();
        if (cold && !dropPageCache())
            return std::nullopt;
        s.push_back(subject());
    }
    return Pair{median(s), median(b)};
}

void report(const char *subject, const char *baseline, const std::optional<Pair> &p, double goal)
{
    if (!p) {
        std::printf("  %-44s cannot drop the page cache here\n", subject);
        return;
    }
    const double ratio = p->subject / p->baseline;
    std::printf("  %-44s %9.1f ms\n  %-44s %9.1f ms\n  %-44s %9.2f x", subject, p->subject, baseline, p->baseline,
                "ratio", ratio);
    if (goal > 0)
        std::printf("   (goal <= %.1f x: %s)", goal, ratio <= goal ? "met" : "MISSED");
    std::printf("\n");
}

// System calls of the probe alone over `files`, counted by strace; -1 without strace.
double syscallsPerEntry(const QString &self, const QString &listFile, qsizetype entries, const char *method)
{
    QTemporaryDir dir;
    const QString out = dir.filePath(u"strace.txt"_s);
    const int rc = QProcess::execute(u"strace"_s, {u"-f"_s, u"-c"_s, u"-o"_s, out, self, u"--probe"_s, listFile,
                                                    QString::fromLatin1(method)});
    QFile f(out);
    if (rc != 0 || !f.open(QIODevice::ReadOnly))
        return -1;
    // The last line: "100.00  time  usecs/call  calls  errors  total".
    const QList<QByteArray> lines = f.readAll().trimmed().split('\n');
    const QList<QByteArray> fields = lines.isEmpty() ? QList<QByteArray>() : lines.last().simplified().split(' ');
    if (fields.size() < 4)
        return -1;
    // Subtract what the program costs with no entry at all.
    static double idle = -1;
    if (idle < 0) {
        QFile empty(dir.filePath(u"none.txt"_s));
        (void)empty.open(QIODevice::WriteOnly);
        empty.close();
        idle = 0;
        idle = syscallsPerEntry(self, empty.fileName(), 1, method);
    }
    return (fields.at(3).toDouble() - idle) / double(entries);
}

int probeOnly(const QString &listFile, const QString &method)
{
    QFile f(listFile);
    if (!f.open(QIODevice::ReadOnly))
        return 1;
    MediaService service;
    UnbufferedMedia unbuffered;
    MediaCommands &media = method == "unbuffered"_L1 ? static_cast<MediaCommands &>(unbuffered) : service;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (!line.isEmpty())
            (void)GetPlayLength(media, QString::fromUtf8(line));
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // figures appear as they are measured
    if (argc == 4 && QByteArray(argv[1]) == "--probe") {
        QCoreApplication app(argc, argv);
        return probeOnly(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    }
    // The window is real but never needs a screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    Application::setIdentity();
    QApplication app(argc, argv);
    Application::prepare(app);

    const int smallEntries = argc > 1 ? qMax(100, QByteArray(argv[1]).toInt()) : 10000;
    const int warmRuns = argc > 2 ? qMax(1, QByteArray(argv[2]).toInt()) : 5;
    const int coldRuns = argc > 3 ? qMax(1, QByteArray(argv[3]).toInt()) : 3;
    const int songEntries = argc > 4 ? qMax(50, QByteArray(argv[4]).toInt()) : 500;
    const bool root = ::geteuid() == 0;
    if (const QStringList missing = MediaGen::missingTools(); !missing.isEmpty()) {
        std::printf("missing tools: %s\n", qPrintable(missing.join(u", "_s)));
        return 1;
    }

    // Inside the build folder: /tmp may be a small memory file system, and the libraries
    // should sit on the disk the program is built on.
    QTemporaryDir work(QCoreApplication::applicationDirPath() + u"/bench-scan-XXXXXX"_s);
    QElapsedTimer t;
    t.start();
    int matching = 0;
    QList<std::pair<MediaGen::Kind, double>> shortKinds;
    for (const MediaGen::Kind &kind : MediaGen::corpusKinds()) {
        for (double seconds : {1.37, 2.62, 4.21})
            shortKinds.append({kind, seconds});
    }
    const QString songsFolder = argc > 5 ? QString::fromLocal8Bit(argv[5]) : work.path();
    const QStringList shortSongs = makeSongs(songsFolder + u"/short"_s, shortKinds, &matching);
    // The performers' mix: 20 songs of 3 to 5 minutes.
    const QList<std::pair<QString, QString>> mix = {
        {u"mp3-cbr-info"_s, u"mp3"_s}, {u"mp3-cbr-info"_s, u"mp3"_s}, {u"mp3-cbr-info"_s, u"mp3"_s},
        {u"mp3-vbr-xing"_s, u"mp3"_s}, {u"mp3-vbr-xing"_s, u"mp3"_s}, {u"mp3-vbr-xing"_s, u"mp3"_s},
        {u"mp3-vbr-plain"_s, u"mp3"_s}, {u"mp3-vbr-plain"_s, u"mp3"_s}, {u"mp3-xing-cover"_s, u"mp3"_s},
        {u"aac-m4a"_s, u"m4a"_s}, {u"aac-m4a"_s, u"m4a"_s}, {u"aac-m4a"_s, u"m4a"_s},
        {u"flac"_s, u"flac"_s}, {u"flac"_s, u"flac"_s}, {u"wav"_s, u"wav"_s},
        {u"vorbis"_s, u"ogg"_s}, {u"vorbis"_s, u"ogg"_s}, {u"mp3-cbr-info"_s, u"mp3"_s},
        {u"mp3-vbr-xing"_s, u"mp3"_s}, {u"aac-m4a"_s, u"m4a"_s},
    };
    QList<std::pair<MediaGen::Kind, double>> longKinds;
    for (qsizetype i = 0; i < mix.size(); ++i)
        longKinds.append({{mix[i].first, mix[i].second}, 180.0 + double((i * 37) % 120) + 0.37});
    const QStringList longSongs = makeSongs(songsFolder + u"/long"_s, longKinds, &matching);
    const qsizetype distinct = shortSongs.size() + longSongs.size();
    if (shortSongs.isEmpty() || longSongs.isEmpty()) {
        std::printf("could not generate the songs\n");
        return 1;
    }

    struct Library {
        const char *title;
        QString folder;
        int entries;
    };
    const QList<Library> libraries = {
        {"Songs of 3-5 minutes in the performers' mix", work.filePath(u"songs-library"_s), 0},
        {"Small songs of every kind", work.filePath(u"small-library"_s), 0},
    };
    const int songMade = (QDir().mkpath(libraries[0].folder), buildLibrary(libraries[0].folder, longSongs, songEntries));
    const int smallMade = (QDir().mkpath(libraries[1].folder), buildLibrary(libraries[1].folder, shortSongs, smallEntries));
    if (songMade < 0 || smallMade < 0) {
        std::printf("could not copy the songs\n");
        return 1;
    }
    std::printf("Libraries: %d entries from %lld songs of 3-5 min, %d entries from %lld short songs; made in %.1f s\n",
                songMade, qlonglong(longSongs.size()), smallMade, qlonglong(shortSongs.size()),
                double(t.elapsed()) / 1000.0);
    // A scan keeps no length of a file changed within the settle time: the libraries just made
    // would be probed again by every "second" scan until they are that old.
    QThread::msleep(quint64(LengthCache::DefaultSettleNs / 1'000'000));
    std::printf("Accuracy: %d of %lld distinct songs (%.1f%%) show the same length as a full decode\n", matching,
                qlonglong(distinct), 100.0 * matching / double(distinct));

    SilentBoxes boxes;
    NoFolderDialog dialog;
    MediaService media;
    UnbufferedMedia unbuffered;
    QTemporaryDir settings;
    Form1 form(Form1Services{&boxes, &dialog, &media, settings.path() + u'/'});
    form.show();
    auto *text1 = form.findChild<QLineEdit *>(u"Text1"_s);
    auto *command11 = form.findChild<QPushButton *>(u"Command11"_s);
    if (!text1 || !command11) {
        std::printf("the window's controls were not found\n");
        return 1;
    }
    const QString cacheRoot = LengthCache::defaultRoot();
    auto forget = [&] { QDir(cacheRoot).removeRecursively(); };

    for (const Library &lib : libraries) {
        std::printf("\n== %s (%s)\n", lib.title, qPrintable(lib.folder));
        int rows = 0;
        auto scan = [&] {
            text1->setText(lib.folder);
            QElapsedTimer timer;
            timer.start();
            command11->click();
            const double ms = msSince(timer);
            rows = form.MSHFlexGrid1().Rows() - 1;
            return ms;
        };
        QStringList paths, walkedFiles;
        for (const QString &name : LibraryScanner::listFolder(lib.folder)) {
            if (name.size() < 3)
                continue;
            paths << lib.folder + QDir::separator() + name;
            if (walked(name))
                walkedFiles << paths.last();
        }
        auto engine = [&](MediaCommands &m) {
            return [&] {
                QElapsedTimer timer;
                timer.start();
                (void)LibraryScanner::probeAll(m, paths).result();
                return msSince(timer);
            };
        };
        auto firstScan = [&] {
            forget();
            return scan();
        };
        (void)scan();
        (void)scan(); // warm the page cache, the libraries, the window and the kept lengths
        (void)floorMs(lib.folder);
        std::printf("Readers for this storage: %d\n", LibraryScanner::readerCountFor(lib.folder));
        for (bool cold : {false, true}) {
            if (cold && !root) {
                std::printf("Cold cache: not measured (needs root to drop the page cache)\n");
                break;
            }
            const int runs = cold ? coldRuns : warmRuns;
            std::printf("%s, median of %d runs\n", cold ? "Cold cache (dropped before each run)" : "Warm cache", runs);
            report("first scan through the window", "floor (list, 64+4 KiB, walked files whole)",
                   measure(runs, cold, firstScan, [&] { return floorMs(lib.folder); }), cold ? 1.3 : 2.0);
            report("second scan, lengths kept", "list + stat every entry",
                   measure(runs, cold, scan, [&] { return listAndStatMs(lib.folder); }, [&] { (void)scan(); }),
                   cold ? 1.5 : 0);
            report("probe alone, now", "probe alone, reads as before", measure(runs, cold, engine(media), engine(unbuffered)), 0);
            if (!walkedFiles.isEmpty()) {
                auto walkOnly = [&] {
                    QElapsedTimer timer;
                    timer.start();
                    (void)LibraryScanner::probeAll(media, walkedFiles).result();
                    return msSince(timer);
                };
                std::printf("  (%lld files whose frames are counted)\n", qlonglong(walkedFiles.size()));
                report("full walks", "cat of the same files", measure(runs, cold, walkOnly, [&] { return catMs(walkedFiles); }), 1.2);
            }
        }
        std::printf("Table rows after the scan: %d\n", rows);
        if (QStandardPaths::findExecutable(u"strace"_s).isEmpty()) {
            std::printf("System calls: strace is not installed\n");
            continue;
        }
        QStringList headerFiles = paths;
        headerFiles.removeIf([&](const QString &p) { return walkedFiles.contains(p); });
        QFile list(work.filePath(u"entries.txt"_s));
        if (list.open(QIODevice::WriteOnly))
            list.write(headerFiles.join(u'\n').toUtf8());
        list.close();
        const QString self = QCoreApplication::applicationFilePath();
        std::printf("System calls per entry (strace -f -c, %lld entries of header formats), before %.1f, now %.1f (goal <= 8)\n",
                    qlonglong(headerFiles.size()), syscallsPerEntry(self, list.fileName(), headerFiles.size(), "unbuffered"),
                    syscallsPerEntry(self, list.fileName(), headerFiles.size(), "best"));
    }
    forget();
    std::printf("\nMessages shown: %lld\n", qlonglong(boxes.said.size()));
    for (const QString &s : std::as_const(boxes.said))
        std::printf("  %s\n", qPrintable(s));
    return 0;
}
