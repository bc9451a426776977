#include "platform/storage/appfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

using namespace Qt::StringLiterals;

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

// Whether the program may write its settings files into the folder.
bool canWriteIn(const QString &folder)
{
#ifdef Q_OS_WIN
    // Windows' attributes do not tell (Program Files looks writable to Qt, and the write
    // then fails): a file is made there and removed again.
    QTemporaryFile probe(folder + u"/korvanda-XXXXXX.tmp"_s);
    return probe.open();
#else
    return QFileInfo(folder).isWritable();
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
    if (!isInstalledCopy(executableDir) && canWriteIn(executableDir))
        return withTrailingSeparator(executableDir);
    const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QDir().mkpath(config);
    return withTrailingSeparator(config);
}
