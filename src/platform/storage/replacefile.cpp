#include "platform/storage/replacefile.h"

#include "platform/storage/systemreason.h"

#include <QSaveFile>


std::optional<QString> replaceFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    SystemReason::clear();
    if (!file.open(QIODevice::WriteOnly))
        return SystemReason::lastError(file.errorString());
    SystemReason::clear();
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        const QString reason = SystemReason::lastError(file.errorString());
        file.cancelWriting();
        return reason;
    }
    SystemReason::clear();
    if (!file.commit())
        return SystemReason::lastError(file.errorString());
    return std::nullopt;
}
