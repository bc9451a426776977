#include "platform/storage/replacefile.h"

#include "platform/storage/systemreason.h"

#include <QSaveFile>

#include <cerrno>

std::optional<QString> replaceFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly))
        return SystemReason::lastError(file.errorString());
    errno = 0;
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        const QString reason = SystemReason::lastError(file.errorString());
        file.cancelWriting();
        return reason;
    }
    errno = 0;
    if (!file.commit())
        return SystemReason::lastError(file.errorString());
    return std::nullopt;
}
