// Scan-probe speed and length accuracy on a generated corpus.
//
// Speed: the same few hundred entries probed through the media commands one after another
// (the baseline) and in parallel through LibraryScanner::probeAll, after a warm-up pass, beside
// the I/O floor (list the folder, open every file, read its first 64 KiB and last 4 KiB).
// Accuracy: for every kind of the corpus, how many files show the same whole seconds as a full
// decode by ffmpeg, for the program's probe, TagLib alone and libavformat alone.
//
// usage: bench_mediaprobe [copies-per-file]   (default 8: about 480 entries)
#include "platform/media/libraryscanner.h"
#include "platform/media/mediacommands.h"
#include "platform/media/mediaprobe.h"
#include "platform/media/mediaservice.h"
#include "support/mediagen.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace {
double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double ioFloorMs(const QString &folder)
{
    QElapsedTimer t;
    t.start();
    std::vector<char> buffer(64 * 1024);
    for (const QString &name : LibraryScanner::listFolder(folder)) {
        const int fd = ::open(QFile::encodeName(folder + u'/' + name).constData(), O_RDONLY | O_NONBLOCK);
        if (fd < 0)
            continue;
        const ssize_t head = ::pread(fd, buffer.data(), buffer.size(), 0);
        const off_t size = ::lseek(fd, 0, SEEK_END);
        if (size > 4096)
            (void)::pread(fd, buffer.data(), 4096, size - 4096);
        (void)head;
        ::close(fd);
    }
    return double(t.nsecsElapsed()) / 1e6;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int copies = argc > 1 ? qMax(1, QByteArray(argv[1]).toInt()) : 8;
    if (const QStringList missing = MediaGen::missingTools(); !missing.isEmpty()) {
        std::printf("missing tools: %s\n", qPrintable(missing.join(u", "_s)));
        return 1;
    }
    QTemporaryDir work;
    const QString corpus = work.filePath(u"corpus"_s);
    const QString library = work.filePath(u"library"_s);
    QDir().mkpath(corpus);
    QDir().mkpath(library);

    // Accuracy corpus: every kind at lengths spread over the second (none within 50 ms of a
    // whole second, so a match is a real match).
    const QList<double> lengths = {7.3, 12.96, 21.62, 33.41};
    struct Row {
        int files = 0, ours = 0, tagLib = 0, libav = 0;
    };
    QMap<QString, Row> table;
    QStringList corpusFiles;
    for (const MediaGen::Kind &kind : MediaGen::corpusKinds()) {
        for (double seconds : lengths) {
            const QString dir = corpus + u"/%1-%2"_s.arg(kind.name).arg(seconds);
            QDir().mkpath(dir);
            const auto file = MediaGen::corpusFile(dir, kind, seconds);
            if (!file)
                continue;
            const auto decoded = MediaGen::decodedLengthMs(*file);
            if (!decoded)
                continue;
            corpusFiles.append(*file);
            Row &row = table[kind.name];
            row.files += 1;
            auto match = [&](MediaProbe::Method m) {
                const auto ms = MediaProbe::lengthMs(*file, m);
                return ms && MediaGen::sameShownLength(*ms, *decoded) ? 1 : 0;
            };
            row.ours += match(MediaProbe::Method::Best);
            row.tagLib += match(MediaProbe::Method::TagLibOnly);
            row.libav += match(MediaProbe::Method::LibavOnly);
        }
    }
    std::printf("Accuracy: files whose shown length equals a full decode's\n");
    std::printf("%-16s %6s %8s %8s %8s\n", "kind", "files", "probe", "TagLib", "libav");
    Row total;
    for (auto it = table.cbegin(); it != table.cend(); ++it) {
        std::printf("%-16s %6d %8d %8d %8d\n", qPrintable(it.key()), it->files, it->ours, it->tagLib, it->libav);
        total.files += it->files;
        total.ours += it->ours;
        total.tagLib += it->tagLib;
        total.libav += it->libav;
    }
    std::printf("%-16s %6d %7.1f%% %7.1f%% %7.1f%%\n\n", "all", total.files, 100.0 * total.ours / total.files,
                100.0 * total.tagLib / total.files, 100.0 * total.libav / total.files);

    // Scan corpus: copies of the accuracy corpus in one folder.
    QStringList paths;
    for (int c = 0; c < copies; ++c) {
        for (qsizetype f = 0; f < corpusFiles.size(); ++f) {
            const QString &file = corpusFiles[f];
            const QString target = library + u"/%1-%2 %3"_s.arg(c, 3, 10, QLatin1Char('0')).arg(f).arg(QFileInfo(file).fileName());
            if (QFile::copy(file, target))
                paths.append(target);
        }
    }
    MediaService media;
    auto sequential = [&](std::vector<double> *perFile) {
        QElapsedTimer t;
        t.start();
        for (const QString &p : std::as_const(paths)) {
            QElapsedTimer one;
            one.start();
            (void)GetPlayLength(media, p);
            if (perFile)
                perFile->push_back(double(one.nsecsElapsed()) / 1e6);
        }
        return double(t.nsecsElapsed()) / 1e6;
    };
    (void)sequential(nullptr); // warm the page cache and the libraries
    std::vector<double> perFile;
    const double seqMs = sequential(&perFile);
    const int readers = LibraryScanner::readerCountFor(library);
    QElapsedTimer t;
    t.start();
    const QList<double> results = LibraryScanner::probeAll(media, paths).result();
    const double parMs = double(t.nsecsElapsed()) / 1e6;
    const double floorMs = ioFloorMs(library);

    std::printf("Scan probe, %lld entries, warm cache, %d readers on this storage\n", qlonglong(paths.size()), readers);
    std::printf("  median per file (sequential)     %8.3f ms\n", median(perFile));
    std::printf("  sequential loop (baseline)       %8.1f ms\n", seqMs);
    std::printf("  parallel probeAll                %8.1f ms   (%.2fx faster)\n", parMs, seqMs / parMs);
    std::printf("  I/O floor (open, 64 KiB + 4 KiB) %8.1f ms   (probeAll = %.1fx the floor)\n", floorMs, parMs / floorMs);
    QMap<QString, std::vector<double>> byKind;
    for (qsizetype i = 0; i < paths.size() && i < qsizetype(perFile.size()); ++i)
        byKind[paths[i].section(u' ', -1)].push_back(perFile[std::size_t(i)]);
    std::printf("  median per file by kind:");
    int column = 0;
    for (auto it = byKind.cbegin(); it != byKind.cend(); ++it)
        std::printf("%s%s %.3f ms", column++ % 4 ? ", " : "\n    ", qPrintable(it.key()), median(it.value()));
    std::printf("\n");
    std::printf("  unplayable results               %8lld\n",
                qlonglong(std::count(results.cbegin(), results.cend(), 0.0)));
    return 0;
}
