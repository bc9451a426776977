#include "platform/storage/exportcheck.h"

#include "platform/storage/systemreason.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSet>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

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

struct FileId
{
    dev_t device;
    ino_t inode;
    bool operator==(const FileId &other) const = default;
};

size_t qHash(const FileId &id, size_t seed = 0)
{
    return qHashMulti(seed, quint64(id.device), quint64(id.inode));
}

} // namespace

QString ExportCheck::humanSize(qint64 bytes)
{
    return QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

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

QString ExportCheck::refusedName(const QString &name, NameRules rules, qint64 nameMaxBytes)
{
    if (name.isEmpty() || name == u"."_s || name == u".."_s)
        return u"使えない名前です"_s;
    if (name.contains(u'/') || name.contains(QChar(0)))
        return u"使えない文字（/）が含まれています"_s;

    if (rules == NameRules::Posix) {
        const qint64 bytes = QFile::encodeName(name).size();
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
        const QByteArray source = QFile::encodeName(item.sourcePath);
        struct stat st {};
        if (::stat(source.constData(), &st) != 0) {
            found += u"%1: 元の曲のファイルが見つかりません（%2）"_s.arg(song, item.sourcePath);
            continue;
        }
        if (!S_ISREG(st.st_mode)) {
            found += u"%1: 元の曲がファイルではありません（%2）"_s.arg(song, item.sourcePath);
            continue;
        }
        const int fd = ::open(source.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            found += u"%1: 元の曲のファイルを読み込めません（%2: %3）"_s.arg(
                song, item.sourcePath, SystemReason::text(errno));
            continue;
        }
        ::close(fd);
        sourceIds.insert({st.st_dev, st.st_ino});
        sourceSizes[i] = st.st_size;
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

    struct statvfs space {};
    const QByteArray existingName = QFile::encodeName(existing);
    const bool haveSpace = ::statvfs(existingName.constData(), &space) == 0;
    const qint64 unit = haveSpace ? qint64(space.f_frsize ? space.f_frsize : space.f_bsize) : 0;
    long nameMax = ::pathconf(existingName.constData(), _PC_NAME_MAX);
    if (nameMax <= 0)
        nameMax = 255;
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
        struct stat old {};
        if (::stat(QFile::encodeName(item.destinationPath).constData(), &old) == 0
            && S_ISREG(old.st_mode)) {
            if (sourceIds.contains({old.st_dev, old.st_ino}))
                found += u"%1: 出力先のファイルが元の曲のファイルそのものです（%2）"_s.arg(
                    item.exportName, item.destinationPath);
            else // replaced, so its room comes back before the copy needs it
                needed -= roundUp(old.st_size, unit);
        }
    }

    if (haveSpace) {
        const qint64 free = qint64(space.f_bavail) * qint64(space.f_frsize);
        if (needed > free)
            found += u"出力先の空き容量が足りません（必要 %1、空き %2）"_s.arg(humanSize(needed),
                                                                             humanSize(free));
    }
    return found;
}

QString ExportCheck::message(const QStringList &problems)
{
    return u"出力できません。次の問題があります。\n\n"_s + problems.join(u'\n');
}
