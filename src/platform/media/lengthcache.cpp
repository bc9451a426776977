#include "platform/media/lengthcache.h"

#include "platform/media/mediaprobe.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>
#include <mutex>
#ifdef Q_OS_WIN
#include "platform/widepath.h"

#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace {

constexpr char Magic[8] = {'K', 'R', 'V', 'L', 'E', 'N', 'S', '\n'};
constexpr quint32 FormatVersion = 2;
// What an entry holds beyond its key.
constexpr quint64 HasLength = 1;
constexpr quint64 HasLoudness = 2;
// Header: magic, format version, probe version, checksum of the rest, then the payload.
constexpr int HeaderBytes = 8 + 4 + 4 + 8;
// A cache larger than this is not one this program wrote.
constexpr qint64 MaxFileBytes = 64 * 1024 * 1024;
const QString Suffix = u".lengths"_s;

quint64 checksum(const char *p, qsizetype n)
{
    // FNV-1a: enough to tell a damaged or cut file from a whole one.
    quint64 h = 0xcbf29ce484222325ULL;
    for (qsizetype i = 0; i < n; ++i)
        h = (h ^ uchar(p[i])) * 0x100000001b3ULL;
    return h;
}

void putU32(QByteArray &out, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        out.append(char(v >> (8 * i)));
}

void putU64(QByteArray &out, quint64 v)
{
    for (int i = 0; i < 8; ++i)
        out.append(char(v >> (8 * i)));
}

void putVar(QByteArray &out, quint64 v)
{
    while (v >= 0x80) {
        out.append(char(v | 0x80));
        v >>= 7;
    }
    out.append(char(v));
}

quint64 zigzag(qint64 v) { return (quint64(v) << 1) ^ quint64(v >> 63); }
qint64 unzigzag(quint64 v) { return qint64(v >> 1) ^ -qint64(v & 1); }

// Reads the payload with every length checked against what is left.
class Reader
{
public:
    Reader(const char *p, qsizetype n) : m_p(p), m_end(p + n) {}
    [[nodiscard]] bool ok() const { return m_ok; }
    [[nodiscard]] bool atEnd() const { return m_p == m_end; }
    [[nodiscard]] qsizetype left() const { return m_end - m_p; }

    quint64 fixed(int bytes)
    {
        if (left() < bytes)
            return fail();
        quint64 v = 0;
        for (int i = 0; i < bytes; ++i)
            v |= quint64(uchar(m_p[i])) << (8 * i);
        m_p += bytes;
        return v;
    }
    quint64 var()
    {
        quint64 v = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (m_p == m_end)
                return fail();
            const uchar b = uchar(*m_p++);
            v |= quint64(b & 0x7F) << shift;
            if (!(b & 0x80))
                return v;
        }
        return fail();
    }
    QByteArray bytes(quint64 n)
    {
        if (n > quint64(left())) {
            fail();
            return {};
        }
        QByteArray b(m_p, qsizetype(n));
        m_p += n;
        return b;
    }

private:
    quint64 fail()
    {
        m_ok = false;
        m_p = m_end;
        return 0;
    }
    const char *m_p;
    const char *m_end;
    bool m_ok = true;
};

#ifdef Q_OS_WIN

// Windows counts file times in 100 ns steps since 1601; the keys count nanoseconds since 1970
// as on Linux, so that a kept file reads the same on both.
qint64 nanoseconds(const FILETIME &t)
{
    const qint64 ticks = qint64(quint64(t.dwHighDateTime) << 32 | t.dwLowDateTime);
    return (ticks - 116444736000000000LL) * 100;
}

qint64 nanoseconds(const LARGE_INTEGER &t)
{
    return (t.QuadPart - 116444736000000000LL) * 100;
}

qint64 nowNs()
{
    FILETIME now {};
    ::GetSystemTimePreciseAsFileTime(&now);
    return nanoseconds(now);
}

// The key of the file at path, read from a handle opened for its attributes only (which a
// player holding the song open does not prevent). The change time is the one of the file's
// metadata, as on Linux: a rename over it or a restored copy with an old date still moves it.
std::optional<LengthCache::Key> keyOfPath(const QString &path)
{
    const HANDLE h = ::CreateFileW(widePath(QDir::toNativeSeparators(path)), 0,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info {};
    FILE_BASIC_INFO basic {};
    const bool ok = ::GetFileInformationByHandle(h, &info)
        && ::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic);
    ::CloseHandle(h);
    if (!ok)
        return std::nullopt;
    return LengthCache::Key{info.dwVolumeSerialNumber, quint64(info.nFileIndexHigh) << 32 | info.nFileIndexLow,
                            qint64(quint64(info.nFileSizeHigh) << 32 | info.nFileSizeLow),
                            nanoseconds(info.ftLastWriteTime), nanoseconds(basic.ChangeTime)};
}

// Reads the kept file whole: its bytes and its modification time, or nothing.
std::optional<std::pair<QByteArray, qint64>> readKept(const QString &path, qint64 maxBytes)
{
    const HANDLE h = ::CreateFileW(widePath(QDir::toNativeSeparators(path)), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return std::nullopt;
    std::optional<std::pair<QByteArray, qint64>> result;
    BY_HANDLE_FILE_INFORMATION info {};
    if (::GetFileInformationByHandle(h, &info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        const qint64 bytes = qint64(quint64(info.nFileSizeHigh) << 32 | info.nFileSizeLow);
        if (bytes <= maxBytes) {
            QByteArray data(qsizetype(bytes), Qt::Uninitialized);
            qsizetype done = 0;
            while (done < data.size()) {
                DWORD got = 0;
                if (!::ReadFile(h, data.data() + done, DWORD(data.size() - done), &got, nullptr) || got == 0)
                    break;
                done += got;
            }
            data.truncate(done);
            result = std::pair{data, nanoseconds(info.ftLastWriteTime)};
        }
    }
    ::CloseHandle(h);
    return result;
}

#else

qint64 nowNs()
{
    timespec ts {};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

qint64 nanoseconds(const timespec &ts) { return qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec; }

// The folders holding the kept files stay open while the program runs: a rescan then finds its
// file with one look inside that folder, where opening it by its path looks at every folder
// from the home folder down, each a read of its own when the disk is cold. A folder held that
// has since been removed or moved away is let go and opened again by its path.
class HeldRoots
{
public:
    // Opens `name` inside `root` (read-only), or -1 with errno set.
    int open(const QString &root, const QString &name)
    {
        const std::lock_guard lock(m_mutex);
        int &held = m_fds[root];
        struct stat st {};
        if (held > 0 && (::fstat(held - 1, &st) != 0 || st.st_nlink == 0))
            drop(held);
        if (held > 0) {
            const int fd = ::openat(held - 1, QFile::encodeName(name).constData(), O_RDONLY | O_CLOEXEC);
            if (fd >= 0 || errno != ENOENT)
                return fd;
        }
        // Not held yet, or the file is not in the folder held: that folder may have been
        // replaced by another under its path.
        const int fd = ::open(QFile::encodeName(root + u'/' + name).constData(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0 || held <= 0) {
            const int saved = errno;
            drop(held);
            const int dir = ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            held = dir >= 0 ? dir + 1 : 0;
            errno = saved;
        }
        return fd;
    }

    // After a write by path: lets go of a folder held that no longer stands at `root`.
    void checkPath(const QString &root)
    {
        const std::lock_guard lock(m_mutex);
        const auto it = m_fds.find(root);
        struct stat held {}, now {};
        if (it != m_fds.end() && *it > 0
            && (::fstat(*it - 1, &held) != 0 || ::stat(QFile::encodeName(root).constData(), &now) != 0
                || held.st_dev != now.st_dev || held.st_ino != now.st_ino))
            drop(*it);
    }

private:
    static void drop(int &held)
    {
        if (held > 0)
            ::close(held - 1);
        held = 0;
    }

    std::mutex m_mutex;
    QHash<QString, int> m_fds; // descriptor + 1, so that a new entry (0) holds nothing
};

HeldRoots &heldRoots()
{
    static HeldRoots roots;
    return roots;
}

#endif

} // namespace

QString LengthCache::defaultRoot()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    return base.isEmpty() ? QString() : base + u"/lengths"_s;
}

LengthCache::LengthCache(const QString &root, const QString &folder, qint64 settleNs, Loading loading)
    : m_root(root), m_folder(folder), m_settleNs(settleNs), m_startedNs(nowNs())
{
#ifndef Q_OS_WIN
    m_dirFd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#endif
    if (!root.isEmpty()) {
        // The folder's path names its file; the path is also inside, so a clash cannot mix folders.
        const QByteArray id = QCryptographicHash::hash(folder.toUtf8(), QCryptographicHash::Sha1).toHex();
        m_fileName = QString::fromLatin1(id) + Suffix;
        m_file = root + u'/' + m_fileName;
    }
    if (loading == Loading::Now)
        load();
}

void LengthCache::load()
{
    if (m_read || m_file.isEmpty())
        return;
    m_read = true;
#ifdef Q_OS_WIN
    const auto kept = readKept(m_file, MaxFileBytes);
    if (!kept)
        return;
    const QByteArray &bytes = kept->first;
    const qint64 modifiedNs = kept->second;
#else
    // Read in one go, the size and the time taken from the open file: a rescan of an unchanged
    // folder reads nothing else of it, and the save then needs no look at the file again.
    const int fd = heldRoots().open(m_root, m_fileName);
    if (fd < 0)
        return;
    struct stat st {};
    QByteArray bytes;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= MaxFileBytes) {
        bytes.resize(qsizetype(st.st_size));
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t got = ::read(fd, bytes.data() + done, std::size_t(bytes.size() - done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            done += got;
        }
        bytes.truncate(done);
    }
    ::close(fd);
    const qint64 modifiedNs = nanoseconds(st.st_mtim);
#endif
    if (auto entries = parse(bytes, m_folder)) {
        m_loaded = std::move(*entries);
        m_intact = true;
        m_fileModifiedNs = modifiedNs;
    }
}

#ifdef Q_OS_WIN
LengthCache::~LengthCache() = default;

std::optional<LengthCache::Key> LengthCache::keyOf(const QString &name) const
{
    return keyOfPath(m_folder + u'/' + name);
}

std::optional<LengthCache::Key> LengthCache::keyOfFile(const QString &path)
{
    return keyOfPath(path);
}
#else
LengthCache::~LengthCache()
{
    if (m_dirFd >= 0)
        ::close(m_dirFd);
}

std::optional<LengthCache::Key> LengthCache::keyOf(const QString &name) const
{
    struct stat st {};
    if (m_dirFd < 0 || ::fstatat(m_dirFd, QFile::encodeName(name).constData(), &st, 0) != 0)
        return std::nullopt;
    return Key{quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_size), nanoseconds(st.st_mtim),
               nanoseconds(st.st_ctim)};
}

std::optional<LengthCache::Key> LengthCache::keyOfFile(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return Key{quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_size), nanoseconds(st.st_mtim),
               nanoseconds(st.st_ctim)};
}
#endif

std::optional<double> LengthCache::find(const QString &name, const Key &key) const
{
    const auto it = m_loaded.constFind(name);
    if (it == m_loaded.cend() || !(it->key == key) || it->lengthMs < 0)
        return std::nullopt;
    return it->lengthMs;
}

std::optional<Loudness> LengthCache::findLoudness(const QString &name, const Key &key) const
{
    const auto it = m_loaded.constFind(name);
    if (it == m_loaded.cend() || !(it->key == key))
        return std::nullopt;
    return it->loudness;
}

bool LengthCache::trusted(const Key &key) const
{
    // A change too recent to be told apart from the next one by its timestamps is not trusted.
    const qint64 settled = m_startedNs - m_settleNs;
    if (key.modifiedNs >= settled || key.changedNs >= settled)
        return false;
    // Some file systems give no inode numbers; there a replaced file could pass for the old one.
    return key.inode != 0;
}

LengthCache::Entry LengthCache::entryFor(const QString &name, const Key &key) const
{
    for (const Entries *from : { &m_kept, &m_loaded }) {
        const auto it = from->constFind(name);
        if (it != from->cend() && it->key == key)
            return *it;
    }
    return Entry{ key, -1, std::nullopt };
}

void LengthCache::insertLoudness(const QString &name, const Key &key, const Loudness &loudness)
{
    if (std::isnan(loudness.lufs) || std::isnan(loudness.truePeakDb) || !trusted(key))
        return;
    Entry entry = entryFor(name, key);
    entry.loudness = loudness;
    m_kept.insert(name, entry);
}

void LengthCache::keepLoaded()
{
    if (m_kept.isEmpty()) {
        m_kept = m_loaded;
        return;
    }
    for (auto it = m_loaded.cbegin(); it != m_loaded.cend(); ++it)
        if (!m_kept.contains(it.key()))
            m_kept.insert(it.key(), *it);
}

void LengthCache::insert(const QString &name, const Key &key, double lengthMs)
{
    // Only whole milliseconds are kept (all the command text carries).
    if (!(lengthMs >= 0) || lengthMs > double(std::numeric_limits<qint32>::max()) || lengthMs != std::floor(lengthMs))
        return;
    if (!trusted(key))
        return;
    Entry entry = entryFor(name, key);
    entry.lengthMs = lengthMs;
    m_kept.insert(name, entry);
}

bool LengthCache::upToDate() const
{
    // Old enough, the file is rewritten, so that the trim does not take it for a forgotten
    // folder. Compared as nanoseconds since the epoch: a local time would read the time zone
    // file, one more cold read on a rescan that reads nothing else.
    constexpr qint64 DayNs = 24 * 3600 * 1'000'000'000LL;
    return m_intact && m_fileModifiedNs > nowNs() - DayNs;
}

bool LengthCache::save()
{
    if (m_file.isEmpty())
        return false;
    // A rescan that found every entry as it was leaves a recent file as it is.
    if (upToDate() && m_kept == m_loaded)
        return true;
    if (!QDir().mkpath(m_root))
        return false;
    QSaveFile f(m_file);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = serialize(m_folder, m_kept);
    if (f.write(bytes) != bytes.size() || !f.commit())
        return false;
#ifndef Q_OS_WIN
    heldRoots().checkPath(m_root);
#endif
    trim();
    return true;
}

void LengthCache::trim() const
{
    QDir dir(m_root);
    QFileInfoList files = dir.entryInfoList({u"*"_s + Suffix}, QDir::Files | QDir::Hidden, QDir::Time);
    const QDateTime oldest = QDateTime::currentDateTimeUtc().addDays(-MaxAgeDays);
    qint64 total = 0;
    // Newest first: the folders scanned most recently stay.
    for (const QFileInfo &info : std::as_const(files)) {
        total += info.size();
        if (info.absoluteFilePath() != QFileInfo(m_file).absoluteFilePath()
            && (info.lastModified() < oldest || total > MaxTotalBytes))
            QFile::remove(info.absoluteFilePath());
    }
}

QByteArray LengthCache::serialize(const QString &folder, const Entries &entries)
{
    QByteArray payload;
    const QByteArray folderBytes = folder.toUtf8();
    putVar(payload, quint64(folderBytes.size()));
    payload.append(folderBytes);
    putVar(payload, quint64(entries.size()));
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        const QByteArray name = it.key().toUtf8();
        const Key &k = it->key;
        putVar(payload, quint64(name.size()));
        payload.append(name);
        putVar(payload, k.device);
        putVar(payload, k.inode);
        putVar(payload, quint64(k.size));
        putVar(payload, zigzag(k.modifiedNs));
        putVar(payload, zigzag(qint64(quint64(k.changedNs) - quint64(k.modifiedNs))));
        const bool hasLength = it->lengthMs >= 0;
        putVar(payload, hasLength ? quint64(it->lengthMs) : 0);
        putVar(payload, (hasLength ? HasLength : 0) | (it->loudness ? HasLoudness : 0));
        if (it->loudness) {
            putU64(payload, std::bit_cast<quint64>(it->loudness->lufs));
            putU64(payload, std::bit_cast<quint64>(it->loudness->truePeakDb));
        }
    }
    QByteArray out(Magic, sizeof Magic);
    putU32(out, FormatVersion);
    putU32(out, MediaProbe::Version);
    putU64(out, checksum(payload.constData(), payload.size()));
    return out + payload;
}

std::optional<LengthCache::Entries> LengthCache::parse(const QByteArray &bytes, const QString &folder)
{
    if (bytes.size() < HeaderBytes || std::memcmp(bytes.constData(), Magic, sizeof Magic) != 0)
        return std::nullopt;
    Reader header(bytes.constData() + sizeof Magic, HeaderBytes - qsizetype(sizeof Magic));
    const quint64 format = header.fixed(4);
    const quint64 probe = header.fixed(4);
    const quint64 sum = header.fixed(8);
    const char *payload = bytes.constData() + HeaderBytes;
    const qsizetype payloadBytes = bytes.size() - HeaderBytes;
    if (format != FormatVersion || probe != MediaProbe::Version || sum != checksum(payload, payloadBytes))
        return std::nullopt;
    return parsePayload(payload, payloadBytes, folder);
}

std::optional<LengthCache::Entries> LengthCache::parsePayload(const char *payload, qsizetype payloadBytes,
                                                              const QString &folder)
{
    Reader r(payload, payloadBytes);
    if (QString::fromUtf8(r.bytes(r.var())) != folder)
        return std::nullopt;
    const quint64 count = r.var();
    // Every entry takes at least seven bytes: a count beyond that is damage, not a reason to
    // reserve memory.
    if (!r.ok() || count > quint64(r.left()) / 7)
        return std::nullopt;
    Entries entries;
    entries.reserve(qsizetype(count));
    for (quint64 i = 0; i < count; ++i) {
        const QString name = QString::fromUtf8(r.bytes(r.var()));
        Entry e;
        e.key.device = r.var();
        e.key.inode = r.var();
        e.key.size = qint64(r.var());
        e.key.modifiedNs = unzigzag(r.var());
        e.key.changedNs = qint64(quint64(e.key.modifiedNs) + quint64(unzigzag(r.var())));
        const quint64 ms = r.var();
        const quint64 holds = r.var();
        if (!r.ok() || ms > quint64(std::numeric_limits<qint32>::max()) || (holds & ~(HasLength | HasLoudness)) != 0
            || (!(holds & HasLength) && ms != 0))
            return std::nullopt;
        e.lengthMs = (holds & HasLength) ? double(ms) : -1;
        if (holds & HasLoudness) {
            const Loudness l{ std::bit_cast<double>(r.fixed(8)), std::bit_cast<double>(r.fixed(8)) };
            if (!r.ok() || std::isnan(l.lufs) || std::isnan(l.truePeakDb))
                return std::nullopt;
            e.loudness = l;
        }
        entries.insert(name, e);
    }
    if (!r.atEnd())
        return std::nullopt;
    return entries;
}
