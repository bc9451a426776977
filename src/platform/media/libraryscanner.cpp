#include "platform/media/libraryscanner.h"

#include "platform/media/mediacommands.h"

#include <QFile>
#include <QFileInfo>
#include <QPromise>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <atomic>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace Qt::StringLiterals;

QStringList LibraryScanner::listFolder(const QString &folder)
{
    // readdir rather than QDirIterator: Qt silently drops names that are not valid in the
    // system's encoding, and such a file must still show up in the library.
    QStringList names;
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return names;
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        names.append(QFile::decodeName(name));
    }
    ::closedir(dir);
    return names;
}

int LibraryScanner::readerCountFor(const QString &folder)
{
    const int solidState = qBound(4, QThread::idealThreadCount(), 16);
    struct stat st {};
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0)
        return solidState;
    const QString device = u"/sys/dev/block/%1:%2"_s.arg(major(st.st_dev)).arg(minor(st.st_dev));
    // A partition has no queue of its own; its disk's queue is one level up.
    for (const QString &queue : QStringList{device + u"/queue/rotational"_s, device + u"/../queue/rotational"_s}) {
        QFile f(queue);
        if (f.open(QIODevice::ReadOnly))
            return f.readAll().trimmed() == "1" ? 2 : solidState;
    }
    // tmpfs, overlay and network file systems have no block device: treat them as fast.
    return solidState;
}

QFuture<QList<double>> LibraryScanner::probeAll(MediaCommands &media, const QStringList &paths, int readers)
{
    if (readers <= 0)
        readers = paths.isEmpty() ? 1 : readerCountFor(QFileInfo(paths.first()).path());
    return QtConcurrent::run([&media, paths, readers](QPromise<QList<double>> &promise) {
        const qsizetype total = paths.size();
        promise.setProgressRange(0, int(total));
        promise.setProgressValue(0);
        QList<double> lengths(total, 0.0);
        std::atomic<qsizetype> next{0};
        std::atomic<int> done{0};
        // Each worker takes the next unprobed entry, so one slow file never holds up the rest.
        auto work = [&] {
            for (;;) {
                if (promise.isCanceled())
                    return;
                const qsizetype i = next.fetch_add(1);
                if (i >= total)
                    return;
                lengths[i] = GetPlayLength(media, paths[i]);
                promise.setProgressValue(done.fetch_add(1) + 1);
            }
        };
        QThreadPool pool;
        pool.setMaxThreadCount(readers);
        for (int k = 1; k < readers && k < total; ++k)
            pool.start(work);
        work(); // this thread reads too
        pool.waitForDone();
        if (!promise.isCanceled())
            promise.addResult(std::move(lengths));
    });
}
