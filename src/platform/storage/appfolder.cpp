#include "platform/storage/appfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

bool isInstalledCopy(const QString &executableDir)
{
#ifdef KORVANDA_INSTALL_BINDIR
    // An installed program must not write beside itself in a shared folder,
    // even when run by an administrator who could.
    return QDir::cleanPath(executableDir) == QDir::cleanPath(QStringLiteral(KORVANDA_INSTALL_BINDIR));
#else
    Q_UNUSED(executableDir);
    return false;
#endif
}

} // namespace

QString withTrailingSeparator(const QString &folder)
{
    const QString native = QDir::toNativeSeparators(folder);
    return native.endsWith(QDir::separator()) ? native : native + QDir::separator();
}

QString locateAppFolder()
{
    const QString executableDir = QCoreApplication::applicationDirPath();
    if (!isInstalledCopy(executableDir) && QFileInfo(executableDir).isWritable())
        return withTrailingSeparator(executableDir);
    const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QDir().mkpath(config);
    return withTrailingSeparator(config);
}
