#include "platform/storage/exportcheck.h"

#include "platform/audio/edits/offlinestretch.h"
#include "platform/storage/systemreason.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSet>

#include <limits>
#include <optional>
#include <utility>

#include <cerrno>
#ifdef Q_OS_WIN
#include "platform/widepath.h"

#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace {

#ifndef Q_OS_WIN
// The file system magic numbers of the Windows family, from the kernel's
// statfs answers (vfat/msdos, exfat, ntfs, ntfs3) and of FUSE, whose real
// type only the mount table tells.
constexpr unsigned long MsdosMagic = 0x4d44;
constexpr unsigned long ExfatMagic = 0x2011bab0;
constexpr unsigned long NtfsMagic = 0x5346544e;
constexpr unsigned long Ntfs3Magic = 0x7366746e;
constexpr unsigned long FuseMagic = 0x65735546;

// Mount table fields escape blanks and a few other bytes as \ooo.
QByteArray unescapeMountField(const QByteArray &field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field.at(i) == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int value = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                out += char(value);
                i += 3;
                continue;
            }
        }
        out += field.at(i);
    }
    return out;
}

// The type of the mount that holds path, from /proc/self/mountinfo: the mount
// with the longest mount point above it, the last one listed when several are
// stacked on the same point.
QByteArray mountTypeOf(const QByteArray &path)
{
    QFile table(u"/proc/self/mountinfo"_s);
    if (!table.open(QIODevice::ReadOnly))
        return {};
    QByteArray best;
    qsizetype bestLength = -1;
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-");
        if (fields.size() < 5 || dash < 0 || dash + 1 >= fields.size())
            continue;
        const QByteArray point = unescapeMountField(fields.at(4));
        const bool holds = point == "/" || path == point || path.startsWith(QByteArray(point + '/'));
        if (holds && point.size() >= bestLength) {
            bestLength = point.size();
            best = fields.at(dash + 1);
        }
    }
    return best;
}

bool isWindowsFamilyType(const QByteArray &type)
{
    static const QSet<QByteArray> kernel{"vfat", "msdos", "exfat", "ntfs", "ntfs3", "umsdos"};
    if (kernel.contains(type))
        return true;
    // A FUSE block device mount is in practice ntfs-3g or exfat-fuse; with a
    // subtype, the subtype tells.
    if (type == "fuseblk")
        return true;
    if (type.startsWith("fuse.") || type.startsWith("fuseblk.")) {
        const QByteArray sub = type.mid(type.indexOf('.') + 1);
        return sub.contains("fat") || sub.contains("ntfs");
    }
    return false;
}

#endif

// The nearest folder at or above path that exists; empty when none does.
QString nearestExistingFolder(const QString &path)
{
    QString folder = QDir::cleanPath(path);
    while (!folder.isEmpty()) {
        if (QFileInfo(folder).isDir())
            return folder;
        const QString parent = QFileInfo(folder).path();
        if (parent == folder)
            return {};
        folder = parent;
    }
    return {};
}

qint64 roundUp(qint64 bytes, qint64 unit)
{
    if (unit <= 0)
        return bytes;
    return (bytes + unit - 1) / unit * unit;
}

// Which file a path leads to: the device and the file's number on it (on Windows the
// volume's serial number and the file index), so that two paths to one file are seen as one.
struct FileId
{
    quint64 device;
    quint64 inode;
    bool operator==(const FileId &other) const = default;
};

size_t qHash(const FileId &id, size_t seed = 0)
{
    return qHashMulti(seed, id.device, id.inode);
}

// A song's source as the check finds it.
struct Source
{
    enum class State { Missing, NotAFile, Unreadable, Readable } state = State::Missing;
    QString reason; // the system's reason when Unreadable
    qint64 size = 0;
    FileId id {};
};

// The volume an existing folder is on: its room and its naming limits.
struct Volume
{
    bool haveSpace = false;
    qint64 unit = 0;        // the allocation unit, 0 when unknown
    qint64 freeBytes = 0;
    qint64 nameMax = 255;
};

#ifdef Q_OS_WIN

FileId idOf(const BY_HANDLE_FILE_INFORMATION &info)
{
    return {info.dwVolumeSerialNumber, quint64(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
}

// The file a path leads to, opened for its attributes only (no read access needed).
std::optional<BY_HANDLE_FILE_INFORMATION> infoOf(const QString &path)
{
    const HANDLE h = ::CreateFileW(widePath(QDir::toNativeSeparators(path)), 0,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info {};
    const bool ok = ::GetFileType(h) == FILE_TYPE_DISK && ::GetFileInformationByHandle(h, &info);
    ::CloseHandle(h);
    return ok ? std::optional(info) : std::nullopt;
}

Source inspectSource(const QString &path)
{
    Source source;
    const auto info = infoOf(path);
    if (!info)
        return source;
    if (info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        source.state = Source::State::NotAFile;
        return source;
    }
    const HANDLE h = ::CreateFileW(widePath(QDir::toNativeSeparators(path)), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        source.state = Source::State::Unreadable;
        source.reason = SystemReason::windowsText(::GetLastError());
        return source;
    }
    ::CloseHandle(h);
    source.state = Source::State::Readable;
    source.size = qint64(quint64(info->nFileSizeHigh) << 32 | info->nFileSizeLow);
    source.id = idOf(*info);
    return source;
}

// The size and identity of a regular file already standing at path.
std::optional<std::pair<qint64, FileId>> existingFile(const QString &path)
{
    const auto info = infoOf(path);
    if (!info || (info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    return std::pair{qint64(quint64(info->nFileSizeHigh) << 32 | info->nFileSizeLow), idOf(*info)};
}

Volume volumeOf(const QString &folder)
{
    Volume v;
    const QString native = QDir::toNativeSeparators(folder);
    ULARGE_INTEGER available {};
    v.haveSpace = ::GetDiskFreeSpaceExW(widePath(native), &available, nullptr, nullptr);
    v.freeBytes = qint64(qMin<quint64>(available.QuadPart, quint64(std::numeric_limits<qint64>::max())));
    wchar_t root[MAX_PATH + 1] = {};
    if (::GetVolumePathNameW(widePath(native), root, MAX_PATH)) {
        DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
        if (::GetDiskFreeSpaceW(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters))
            v.unit = qint64(sectorsPerCluster) * bytesPerSector;
        // FAT32, exFAT and NTFS all answer 255 (UTF-16 units); a network share may answer less.
        DWORD componentMax = 0, flags = 0;
        if (::GetVolumeInformationW(root, nullptr, 0, nullptr, &componentMax, &flags, nullptr, 0) && componentMax > 0)
            v.nameMax = componentMax;
    }
    return v;
}

#else

Source inspectSource(const QString &path)
{
    Source source;
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0)
        return source;
    if (!S_ISREG(st.st_mode)) {
        source.state = Source::State::NotAFile;
        return source;
    }
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        source.state = Source::State::Unreadable;
        source.reason = SystemReason::text(errno);
        return source;
    }
    ::close(fd);
    source.state = Source::State::Readable;
    source.size = st.st_size;
    source.id = {quint64(st.st_dev), quint64(st.st_ino)};
    return source;
}

std::optional<std::pair<qint64, FileId>> existingFile(const QString &path)
{
    struct stat old {};
    if (::stat(QFile::encodeName(path).constData(), &old) != 0 || !S_ISREG(old.st_mode))
        return std::nullopt;
    return std::pair{qint64(old.st_size), FileId{quint64(old.st_dev), quint64(old.st_ino)}};
}

Volume volumeOf(const QString &folder)
{
    Volume v;
    struct statvfs space {};
    const QByteArray name = QFile::encodeName(folder);
    v.haveSpace = ::statvfs(name.constData(), &space) == 0;
    v.unit = v.haveSpace ? qint64(space.f_frsize ? space.f_frsize : space.f_bsize) : 0;
    v.freeBytes = v.haveSpace ? qint64(space.f_bavail) * qint64(space.f_frsize) : 0;
    const long nameMax = ::pathconf(name.constData(), _PC_NAME_MAX);
    if (nameMax > 0)
        v.nameMax = nameMax;
    return v;
}

#endif

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices in every folder, whatever the case and
// whatever extension follows ("nul.mp3", "Con .txt"): Windows opens the device instead of a file.
QString deviceStem(const QString &name)
{
    QString stem = name.left(name.indexOf(u'.'));
    while (stem.endsWith(u' '))
        stem.chop(1);
    return stem;
}

bool isDeviceName(const QString &name)
{
    const QString stem = deviceStem(name).toUpper();
    static const QStringList fixed{u"CON"_s, u"PRN"_s, u"AUX"_s, u"NUL"_s};
    if (fixed.contains(stem))
        return true;
    if (stem.size() != 4 || !(stem.startsWith(u"COM"_s) || stem.startsWith(u"LPT"_s)))
        return false;
    const QChar digit = stem.at(3);
    return (digit >= u'1' && digit <= u'9') || digit == u'\u00b9' || digit == u'\u00b2' || digit == u'\u00b3';
}

} // namespace

QString ExportCheck::humanSize(qint64 bytes)
{
    return QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

#ifdef Q_OS_WIN
ExportCheck::NameRules ExportCheck::nameRulesAt(const QString &)
{
    // On Windows every file system is reached through the same API, whose naming rules
    // (reserved characters and device names, a trailing dot or blank dropped) apply to all
    // of them, FAT32, exFAT and NTFS alike.
    return NameRules::Windows;
}
#else
ExportCheck::NameRules ExportCheck::nameRulesAt(const QString &folder)
{
    const QByteArray path = QFile::encodeName(QFileInfo(folder).canonicalFilePath());
    struct statfs info {};
    if (!path.isEmpty() && ::statfs(path.constData(), &info) == 0) {
        const auto magic = static_cast<unsigned long>(info.f_type);
        if (magic == MsdosMagic || magic == ExfatMagic || magic == NtfsMagic || magic == Ntfs3Magic)
            return NameRules::Windows;
        if (magic != FuseMagic)
            return NameRules::Posix;
    }
    return isWindowsFamilyType(mountTypeOf(path)) ? NameRules::Windows : NameRules::Posix;
}
#endif

QString ExportCheck::refusedName(const QString &name, NameRules rules, qint64 nameMaxBytes)
{
    if (name.isEmpty() || name == u"."_s || name == u".."_s)
        return u"使えない名前です"_s;
    if (name.contains(u'/') || name.contains(QChar(0)))
        return u"使えない文字（/）が含まれています"_s;

    if (rules == NameRules::Posix) {
        // A POSIX file system stores the name's UTF-8 bytes, whatever the system's 8-bit
        // encoding (CP932 on a Japanese Windows counts 100 kana as 200 bytes, not 300).
        const qint64 bytes = name.toUtf8().size();
        if (bytes > nameMaxBytes)
            return u"名前が長すぎます（%1 バイト、上限 %2 バイト）"_s.arg(bytes).arg(nameMaxBytes);
        return {};
    }

    QString refused;
    bool control = false;
    for (const QChar c : name) {
        if (c.unicode() < 0x20)
            control = true;
        else if (u"\\/:*?\"<>|"_s.contains(c) && !refused.contains(c))
            refused += c;
    }
    if (!refused.isEmpty())
        return u"出力先のファイルシステムでは使えない文字（%1）が含まれています"_s.arg(refused);
    if (control)
        return u"出力先のファイルシステムでは使えない制御文字が含まれています"_s;
    if (name.endsWith(u'.') || name.endsWith(u' '))
        return u"出力先のファイルシステムでは名前の最後に点や空白を使えません"_s;
    if (isDeviceName(name))
        return u"「%1」は Windows が装置に使う名前なので、ファイルやフォルダの名前に使えません"_s.arg(deviceStem(name));
    if (name.size() > 255)
        return u"名前が長すぎます（%1 文字、上限 255 文字）"_s.arg(name.size());
    return {};
}

QStringList ExportCheck::problems(const ExportPlan &plan)
{
    QStringList found;

    // Sources: each must still be there as a readable regular file.
    qint64 needed = 0;
    QSet<FileId> sourceIds;
    QList<qint64> sourceSizes(plan.items.size(), -1);
    for (qsizetype i = 0; i < plan.items.size(); ++i) {
        const ExportItem &item = plan.items.at(i);
        const QString song = item.exportName;
        if (!QDir::isAbsolutePath(item.sourcePath)) {
            found += u"%1: 元の曲のファイルの場所が正しくありません（%2）"_s.arg(song, item.sourcePath);
            continue;
        }
        const Source source = inspectSource(item.sourcePath);
        if (source.state == Source::State::Missing) {
            found += u"%1: 元の曲のファイルが見つかりません（%2）"_s.arg(song, item.sourcePath);
            continue;
        }
        if (source.state == Source::State::NotAFile) {
            found += u"%1: 元の曲がファイルではありません（%2）"_s.arg(song, item.sourcePath);
            continue;
        }
        if (source.state == Source::State::Unreadable) {
            found += u"%1: 元の曲のファイルを読み込めません（%2: %3）"_s.arg(song, item.sourcePath, source.reason);
            continue;
        }
        sourceIds.insert(source.id);
        sourceSizes[i] = source.size;
        // Found now rather than when the export reaches the song, halfway.
        if (item.edits.stretches() && !OfflineStretch::available())
            found += u"%1: %2"_s.arg(song, OfflineStretch::unavailableReason());
    }

    // Everything below is about where the export folder will be; a folder
    // that is not absolute, or an empty base folder, is refused by the folder
    // creation itself.
    if (plan.baseFolder.isEmpty() || !QDir::isAbsolutePath(plan.folder))
        return found;
    const QString existing = nearestExistingFolder(plan.folder);
    if (existing.isEmpty())
        return found;

    // An export folder that already holds a song of the set: the copies would
    // mix into the library, and a copy could replace the user's own file.
    const QFileInfo folderInfo(plan.folder);
    if (folderInfo.isDir()) {
        const QString folder = folderInfo.canonicalFilePath();
        for (const ExportItem &item : plan.items) {
            const QString source = QFileInfo(item.sourcePath).canonicalFilePath();
            if (source.isEmpty() || !(source.startsWith(folder + u'/') || folder == u"/"_s))
                continue;
            found += u"%1: 元の曲のファイル（%2）が出力先フォルダの中にあります。曲のフォルダとは別の場所を出力先にしてください"_s
                         .arg(item.exportName, item.sourcePath);
        }
    }

    const Volume volume = volumeOf(existing);
    const qint64 unit = volume.unit;
    const qint64 nameMax = volume.nameMax;
    const NameRules rules = nameRulesAt(existing);

    // The folders still to be created must have names the file system takes.
    const QString below = QDir::cleanPath(plan.folder).mid(existing.size());
    for (const QString &part : below.split(u'/', Qt::SkipEmptyParts)) {
        const QString why = refusedName(part, rules, nameMax);
        if (!why.isEmpty())
            found += u"保存先フォルダ名「%1」: %2"_s.arg(part, why);
        needed += unit;
    }

    for (qsizetype i = 0; i < plan.items.size(); ++i) {
        const ExportItem &item = plan.items.at(i);
        const QString why = refusedName(item.exportName, rules, nameMax);
        if (!why.isEmpty())
            found += u"%1: %2"_s.arg(item.exportName, why);

        // A converted song takes what its new format needs, not its source's size.
        if (item.expectedBytes >= 0)
            needed += roundUp(item.expectedBytes, unit);
        else if (sourceSizes.at(i) >= 0)
            needed += roundUp(sourceSizes.at(i), unit);
        if (const auto old = existingFile(item.destinationPath)) {
            if (sourceIds.contains(old->second))
                found += u"%1: 出力先のファイルが元の曲のファイルそのものです（%2）"_s.arg(
                    item.exportName, item.destinationPath);
            else // replaced, so its room comes back before the copy needs it
                needed -= roundUp(old->first, unit);
        }
    }

    if (volume.haveSpace && needed > volume.freeBytes)
        found += u"出力先の空き容量が足りません（必要 %1、空き %2）"_s.arg(humanSize(needed),
                                                                         humanSize(volume.freeBytes));
    return found;
}

QString ExportCheck::message(const QStringList &problems)
{
    return u"出力できません。次の問題があります。\n\n"_s + problems.join(u'\n');
}
