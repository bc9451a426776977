#include "platform/storage/setliststorage.h"

#include "platform/storage/systemreason.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

std::variant<QByteArray, QString> SetListStorage::read(const QString &path)
{
    // stat() rather than opening: opening a FIFO would block until someone
    // writes to it.
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return SystemReason::text(errno);
    if (S_ISDIR(status.st_mode))
        return u"フォルダです"_s;
    if (!S_ISREG(status.st_mode))
        return u"普通のファイルではありません"_s;
    if (status.st_size > MaxBytes)
        return u"プレイリストとしては大きすぎます（%1 バイト）"_s.arg(status.st_size);

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        const int error = errno;
        return error ? SystemReason::text(error) : file.errorString();
    }
    QByteArray bytes = file.read(MaxBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return file.errorString();
    if (bytes.size() > MaxBytes)
        return u"プレイリストとしては大きすぎます"_s;
    return bytes;
}

std::optional<QString> SetListStorage::write(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    errno = 0;
    const auto reason = [&file]() {
        const int error = errno;
        return error ? SystemReason::text(error) : file.errorString();
    };
    if (!file.open(QIODevice::WriteOnly))
        return reason();
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        const QString why = reason();
        file.cancelWriting();
        return why;
    }
    errno = 0;
    if (!file.commit())
        return reason();
    return std::nullopt;
}

bool SetListStorage::isSongFile(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() && info.isFile();
}
