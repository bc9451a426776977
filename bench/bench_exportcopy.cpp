// Export copy throughput on the local disk: the durable, in-order export (each
// file flushed before the next, the folder flushed at the end) against
// `cp` + `sync`, QFile::copy + fsync per file, and QFile::copy without any
// flush (not durable; the floor the page cache allows).
//
// usage: bench_exportcopy [files] [MiB per file] [runs] [folder]

#include "model/exportplan.h"
#include "platform/storage/exportjob.h"
#include "platform/storage/foldercreation.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

bool fsyncPath(const QString &path, int flags)
{
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int files = args.size() > 1 ? args.at(1).toInt() : 30;
    const qint64 mib = args.size() > 2 ? args.at(2).toLongLong() : 7;
    const int runs = args.size() > 3 ? args.at(3).toInt() : 5;
    QTemporaryDir dir(args.size() > 4 ? args.at(4) + u"/bench-XXXXXX"_s : QString());
    if (!dir.isValid())
        return 1;

    const QString songs = dir.filePath(u"songs"_s);
    QDir().mkpath(songs);
    QList<SetListRow> rows;
    QByteArray block(1024 * 1024, Qt::Uninitialized);
    for (int i = 0; i < files; ++i) {
        const QString path = songs + u"/Song %1.mp3"_s.arg(i);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        for (qint64 m = 0; m < mib; ++m) {
            for (qsizetype b = 0; b < block.size(); b += 64)
                block[b] = char(i * 31 + m + b);
            file.write(block);
        }
        rows.append({i + 1, u"%1"_s.arg(i + 1, 2, 10, QChar(u'0')), path, {}, {}});
    }
    ::sync();
    const double totalMiB = double(files * mib);
    std::printf("export copy: %d files x %lld MiB = %.0f MiB, %d runs, in %s\n", files,
                static_cast<long long>(mib), totalMiB, runs, qPrintable(dir.path()));

    int serial = 0;
    const auto measure = [&](const char *label, const std::function<bool(const ExportPlan &)> &body) {
        QList<double> seconds;
        for (int r = 0; r < runs; ++r) {
            const ExportPlan plan =
                planExport(rows, dir.path(), u"Set %1"_s.arg(++serial), u'/');
            ::sync(); // start each run with nothing dirty from the previous one
            QElapsedTimer timer;
            timer.start();
            if (!body(plan)) {
                std::printf("%-34s FAILED\n", label);
                return 0.0;
            }
            seconds.append(timer.nsecsElapsed() / 1e9);
            QDir(plan.folder).removeRecursively();
        }
        const double m = median(seconds);
        std::printf("%-34s median %7.3f s  %8.1f MiB/s\n", label, m, totalMiB / m);
        return m;
    };

    const double ours = measure("durable export (ExportJob)", [](const ExportPlan &plan) {
        if (FolderCreation::create(plan.folder).outcome != FolderCreation::Outcome::Created)
            return false;
        ExportJob job(plan);
        QEventLoop loop;
        bool ok = false;
        QObject::connect(&job, &ExportJob::finished, &loop, [&](const ExportResult &result) {
            ok = result.outcome == ExportResult::Outcome::Completed;
            loop.quit();
        });
        job.start();
        loop.exec();
        return ok;
    });
    const double cpSync = measure("cp + sync", [](const ExportPlan &plan) {
        QDir().mkpath(plan.folder);
        for (const ExportItem &item : plan.items) {
            if (QProcess::execute(u"cp"_s, {item.sourcePath, item.destinationPath}) != 0)
                return false;
        }
        return QProcess::execute(u"sync"_s, {}) == 0;
    });
    const double qfileFsync = measure("QFile::copy + fsync each", [](const ExportPlan &plan) {
        QDir().mkpath(plan.folder);
        for (const ExportItem &item : plan.items) {
            if (!QFile::copy(item.sourcePath, item.destinationPath)
                || !fsyncPath(item.destinationPath, O_RDONLY))
                return false;
        }
        return fsyncPath(plan.folder, O_RDONLY | O_DIRECTORY);
    });
    measure("QFile::copy, no flush (not durable)", [](const ExportPlan &plan) {
        QDir().mkpath(plan.folder);
        for (const ExportItem &item : plan.items) {
            if (!QFile::copy(item.sourcePath, item.destinationPath))
                return false;
        }
        return true;
    });
    if (ours > 0 && cpSync > 0 && qfileFsync > 0)
        std::printf("durable export / (cp + sync) = %.2f (goal <= 1.10); / (QFile::copy + fsync) = %.2f\n",
                    ours / cpSync, ours / qfileFsync);
    return 0;
}
