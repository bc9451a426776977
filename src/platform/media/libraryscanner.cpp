#include "platform/media/libraryscanner.h"

#include "platform/media/lengthcache.h"
#include "platform/media/mediacommands.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QDeadlineTimer>
#include <QPromise>
#include <QThread>
#include <QSemaphore>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <atomic>
#include <memory>
#include <cstring>
#ifdef Q_OS_WIN
#include <windows.h>
#include <winioctl.h>
#else
#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif

using namespace Qt::StringLiterals;

#ifdef Q_OS_WIN

QStringList LibraryScanner::listFolder(const QString &folder)
{
    // The wide-character listing: every name as the file system holds it, hidden and system
    // entries included, whatever the ANSI code page can spell.
    QStringList names;
    QString pattern = QDir::toNativeSeparators(folder);
    if (!pattern.endsWith(u'\\'))
        pattern += u'\\';
    pattern += u'*';
    WIN32_FIND_DATAW entry {};
    const HANDLE find = ::FindFirstFileExW(reinterpret_cast<const wchar_t *>(pattern.utf16()), FindExInfoBasic, &entry,
                                           FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        const QString name = QString::fromWCharArray(entry.cFileName);
        if (name != u"."_s && name != u".."_s)
            names.append(name);
    } while (::FindNextFileW(find, &entry));
    ::FindClose(find);
    return names;
}

int LibraryScanner::readerCountFor(const QString &folder)
{
    const int solidState = qBound(4, QThread::idealThreadCount(), 16);
    // The volume the folder is on, asked whether reading far apart costs a seek (a spinning
    // disk); a network share or a volume that cannot answer counts as fast.
    wchar_t volume[MAX_PATH + 1] = {};
    if (!::GetVolumePathNameW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(folder).utf16()), volume,
                              MAX_PATH))
        return solidState;
    QString device = QString::fromWCharArray(volume);
    if (device.size() != 3 || device.at(1) != u':')
        return solidState;
    device = u"\\\\.\\"_s + device.left(2);
    const HANDLE h = ::CreateFileW(reinterpret_cast<const wchar_t *>(device.utf16()), 0,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return solidState;
    STORAGE_PROPERTY_QUERY query {};
    query.PropertyId = StorageDeviceSeekPenaltyProperty;
    query.QueryType = PropertyStandardQuery;
    DEVICE_SEEK_PENALTY_DESCRIPTOR answer {};
    DWORD bytes = 0;
    const bool known = ::DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, &answer,
                                         sizeof answer, &bytes, nullptr)
        && bytes >= sizeof answer;
    ::CloseHandle(h);
    return known && answer.IncursSeekPenalty ? 2 : solidState;
}

#else

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

#endif

namespace {

// The readers' threads are kept between scans (until they idle for half a minute): starting
// one costs about as much as a rescan of a few hundred unchanged entries spends in them.
QThreadPool &readerPool()
{
    static QThreadPool pool;
    static const bool sized = (pool.setMaxThreadCount(64), true);
    Q_UNUSED(sized);
    return pool;
}

// Runs `each(i)` for i in [0, total) on the calling thread and up to readers - 1 others, each
// taking the next entry not yet taken, so one slow file never holds up the rest. False when
// cancelled.
template<typename Each>
bool forEachInParallel(const QPromise<QList<double>> &promise, int readers, qsizetype total, Each each)
{
    std::atomic<qsizetype> next{0};
    auto work = [&] {
        while (!promise.isCanceled()) {
            const qsizetype i = next.fetch_add(1);
            if (i >= total)
                return;
            each(i);
        }
    };
    // A busy pool takes no more helpers: the calling thread does their share instead.
    QSemaphore finished;
    int helpers = 0;
    for (int k = 1; k < readers && k < total; ++k) {
        if (!readerPool().tryStart([&] {
                work();
                finished.release();
            }))
            break;
        ++helpers;
    }
    work();
    finished.acquire(helpers);
    return !promise.isCanceled();
}

// Probes every path on `readers` threads, reporting to `promise`; `lengthOf(i)` answers for
// entry i. Returns nothing when cancelled.
template<typename LengthOf>
std::optional<QList<double>> probeInParallel(QPromise<QList<double>> &promise, qsizetype total, int readers,
                                             LengthOf lengthOf)
{
    promise.setProgressRange(0, int(total));
    promise.setProgressValue(0);
    QList<double> lengths(total, 0.0);
    std::atomic<int> done{0};
    const bool whole = forEachInParallel(promise, readers, total, [&](qsizetype i) {
        lengths[i] = lengthOf(i);
        promise.setProgressValue(done.fetch_add(1) + 1);
    });
    if (!whole)
        return std::nullopt;
    return lengths;
}

} // namespace

QFuture<QList<double>> LibraryScanner::probeAll(MediaCommands &media, const QStringList &paths, int readers)
{
    if (readers <= 0)
        readers = paths.isEmpty() ? 1 : readerCountFor(QFileInfo(paths.first()).path());
    return QtConcurrent::run([&media, paths, readers](QPromise<QList<double>> &promise) {
        auto lengths = probeInParallel(promise, paths.size(), readers,
                                       [&](qsizetype i) { return GetPlayLength(media, paths[i]); });
        if (lengths)
            promise.addResult(std::move(*lengths));
    });
}

namespace {

// What a folder's scan knows so far, handed from the calling thread to the readers.
struct FolderPass {
    FolderPass(const QString &cacheRoot, const QString &folder, qsizetype entries)
        : cache(cacheRoot, folder, LengthCache::DefaultSettleNs, LengthCache::Loading::Later), keys(entries)
    {
    }
    LengthCache cache;
    QList<std::optional<LengthCache::Key>> keys;
    qsizetype keyed = 0; // keys[0, keyed) are looked at
    QList<double> lengths;
    QList<qsizetype> unknown;

    // Takes the kept length of every entry unchanged since the last scan; the rest are unknown.
    void takeKept(const QStringList &names)
    {
        lengths = QList<double>(names.size(), 0.0);
        unknown.clear();
        for (qsizetype i = 0; i < names.size(); ++i) {
            const auto kept = keys[i] ? cache.find(names[i], *keys[i]) : std::nullopt;
            if (kept)
                lengths[i] = *kept;
            else
                unknown.append(i);
        }
    }

    // Every entry was found as it was kept, and none is gone.
    [[nodiscard]] bool asKept(const QStringList &names) const
    {
        return unknown.isEmpty() && cache.loadedCount() == names.size();
    }

    // Keeps the lengths for the next scan. A folder found as it was kept keeps what it loaded
    // without rebuilding it.
    void keep(const QStringList &names)
    {
        if (asKept(names)) {
            cache.keepLoaded();
        } else {
            for (qsizetype i = 0; i < names.size(); ++i) {
                if (keys[i])
                    cache.insert(names[i], *keys[i], lengths.at(i));
            }
        }
        (void)cache.save();
    }
};

} // namespace

QFuture<QList<double>> LibraryScanner::probeFolder(MediaCommands &media, const QString &folder,
                                                   const QStringList &names, const QStringList &paths,
                                                   const QString &cacheRoot, int readers, int inlineMs)
{
    // The key is taken before the probe: a change while probing moves the key on disk away
    // from the one kept, so the next scan probes again.
    auto pass = std::make_shared<FolderPass>(cacheRoot, folder, names.size());
    pass->cache.load();
    const QDeadlineTimer deadline(inlineMs);
    while (pass->keyed < names.size()) {
        pass->keys[pass->keyed] = pass->cache.keyOf(names[pass->keyed]);
        if (++pass->keyed % 16 == 0 && deadline.hasExpired())
            break;
    }
    if (pass->keyed == names.size()) {
        pass->takeKept(names);
        if (pass->asKept(names) && pass->cache.upToDate())
            return QtFuture::makeReadyFuture(std::move(pass->lengths));
    }
    return QtConcurrent::run([&media, folder, names, paths, pass, readers](QPromise<QList<double>> &promise) {
        const int count = readers > 0 ? readers : readerCountFor(folder);
        // The entries not looked at yet, on a large or slow folder.
        const qsizetype from = pass->keyed;
        if (from < names.size()) {
            if (!forEachInParallel(promise, count, names.size() - from,
                                   [&](qsizetype k) { pass->keys[from + k] = pass->cache.keyOf(names[from + k]); }))
                return;
            pass->keyed = names.size();
            pass->takeKept(names);
        }
        // Reader threads are woken only for the entries not kept, which a rescan of an
        // unchanged folder does not have.
        promise.setProgressRange(0, int(names.size()));
        std::atomic<int> done{int(names.size() - pass->unknown.size())};
        promise.setProgressValue(done);
        if (!forEachInParallel(promise, count, pass->unknown.size(), [&](qsizetype k) {
                const qsizetype i = pass->unknown[k];
                pass->lengths[i] = GetPlayLength(media, paths[i]);
                promise.setProgressValue(done.fetch_add(1) + 1);
            }))
            return;
        pass->keep(names);
        promise.addResult(std::move(pass->lengths));
    });
}
