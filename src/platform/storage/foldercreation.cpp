#include "platform/storage/foldercreation.h"

#include "platform/storage/durablecopy.h"
#include "platform/storage/systemreason.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

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

FolderCreation::Result FolderCreation::createExportFolder(const QString &baseFolder,
                                                          const QString &folder)
{
    if (baseFolder.isEmpty())
        return {Outcome::Failed, u"the output base folder is empty"_s};
    return create(folder);
}
