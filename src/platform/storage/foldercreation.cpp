#include "platform/storage/foldercreation.h"

#include "platform/storage/durablecopy.h"
#include "platform/storage/systemreason.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#ifdef Q_OS_WIN
#include "platform/storage/exportcheck.h"

#include "platform/widepath.h"

#include <windows.h>
#else
#include <sys/stat.h>
#endif

using namespace Qt::StringLiterals;

#ifdef Q_OS_WIN

namespace {

bool isFolder(const QString &path)
{
    const DWORD attributes = ::GetFileAttributesW(widePath(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The length of the part of a cleaned path that is never created: "C:/" or "//server/share/".
qsizetype rootLength(const QString &clean)
{
    if (clean.startsWith(u"//"_s)) {
        const qsizetype server = clean.indexOf(u'/', 2);
        const qsizetype share = server < 0 ? -1 : clean.indexOf(u'/', server + 1);
        return share < 0 ? clean.size() : share + 1;
    }
    return clean.size() >= 3 && clean.at(1) == u':' ? 3 : 0;
}

} // namespace

FolderCreation::Result FolderCreation::create(const QString &path)
{
    if (path.isEmpty() || !QDir::isAbsolutePath(path))
        return {Outcome::Failed, u"not an absolute path: %1"_s.arg(path)};
    const QString clean = QDir::cleanPath(QDir::fromNativeSeparators(path));
    const QString native = QDir::toNativeSeparators(clean);
    const DWORD attributes = ::GetFileAttributesW(widePath(native));
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            return {Outcome::AlreadyExists, {}};
        return {Outcome::Failed, SystemReason::text(ENOTDIR)};
    }

    // One level at a time, as on Linux: the first refusal keeps its own reason, and each new
    // entry is flushed into its parent. Windows would quietly drop a trailing dot or blank
    // and open a device for CON or NUL: such a name is refused before anything is created.
    const qsizetype root = rootLength(clean);
    QString prefix = clean.left(root);
    const QStringList parts = clean.mid(root).split(u'/', Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        if (const QString why = ExportCheck::refusedName(part, ExportCheck::NameRules::Windows); !why.isEmpty())
            return {Outcome::Failed, u"「%1」: %2"_s.arg(part, why)};
    }
    for (const QString &part : parts) {
        const QString parent = prefix;
        if (!prefix.isEmpty() && !prefix.endsWith(u'/'))
            prefix += u'/';
        prefix += part;
        const QString level = QDir::toNativeSeparators(prefix);
        if (::CreateDirectoryW(widePath(level), nullptr)) {
            const QString syncError = DurableCopy::syncFolder(parent);
            if (!syncError.isEmpty())
                return {Outcome::Failed, syncError};
            continue;
        }
        const DWORD error = ::GetLastError();
        if (error == ERROR_ALREADY_EXISTS && isFolder(level))
            continue;
        if (error == ERROR_ALREADY_EXISTS)
            return {Outcome::Failed, SystemReason::text(ENOTDIR)};
        // The root of a drive that is not there answers "access denied" or "not found" at
        // its first level; the system's own text says which.
        return {Outcome::Failed, SystemReason::windowsText(error)};
    }
    return {Outcome::Created, {}};
}

#else

namespace {

bool isFolder(const QByteArray &path)
{
    struct stat st {};
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

FolderCreation::Result FolderCreation::create(const QString &path)
{
    if (path.isEmpty() || !QDir::isAbsolutePath(path))
        return {Outcome::Failed, u"not an absolute path: %1"_s.arg(path)};

    const QByteArray full = QFile::encodeName(path);
    struct stat st {};
    if (::stat(full.constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return {Outcome::AlreadyExists, {}};
        return {Outcome::Failed, SystemReason::text(ENOTDIR)};
    }

    // Created one level at a time so that the first refusal is reported with
    // its own reason, and each new entry is flushed into its parent: the
    // folder must survive the stick being pulled out as much as the songs.
    QByteArray prefix;
    const QList<QByteArray> parts = full.split('/');
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (i > 0)
            prefix += '/';
        prefix += parts.at(i);
        if (parts.at(i).isEmpty() || parts.at(i) == ".")
            continue;
        if (::mkdir(prefix.constData(), 0777) == 0) {
            const QString parent = QFileInfo(QFile::decodeName(prefix)).path();
            const QString syncError = DurableCopy::syncFolder(parent);
            if (!syncError.isEmpty())
                return {Outcome::Failed, syncError};
            continue;
        }
        const int error = errno;
        if (error == EEXIST && isFolder(prefix))
            continue;
        return {Outcome::Failed, SystemReason::text(error == EEXIST ? ENOTDIR : error)};
    }
    return {Outcome::Created, {}};
}

#endif

FolderCreation::Result FolderCreation::createExportFolder(const QString &baseFolder,
                                                          const QString &folder)
{
    if (baseFolder.isEmpty())
        return {Outcome::Failed, u"the output base folder is empty"_s};
    return create(folder);
}
