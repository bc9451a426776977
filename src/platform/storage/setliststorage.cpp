#include "platform/storage/setliststorage.h"

#include "platform/storage/replacefile.h"
#include "platform/storage/systemreason.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>

using namespace Qt::StringLiterals;

std::variant<QByteArray, QString> SetListStorage::read(const QString &path)
{
    // Looked at before opening: opening a FIFO would block until someone
    // writes to it, and a device could be read forever.
    const QFileInfo info(path);
    if (!info.exists())
        return SystemReason::text(ENOENT);
    if (info.isDir())
        return u"フォルダです"_s;
    if (!info.isFile())
        return u"普通のファイルではありません"_s;
    if (info.size() > MaxBytes)
        return u"プレイリストとしては大きすぎます（%1 バイト）"_s.arg(info.size());

    QFile file(path);
    SystemReason::clear();
    if (!file.open(QIODevice::ReadOnly))
        return SystemReason::lastError(file.errorString());
    QByteArray bytes = file.read(MaxBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return file.errorString();
    if (bytes.size() > MaxBytes)
        return u"プレイリストとしては大きすぎます"_s;
    return bytes;
}

std::optional<QString> SetListStorage::write(const QString &path, const QByteArray &bytes)
{
    return replaceFile(path, bytes);
}

bool SetListStorage::isRegularFile(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() && info.isFile();
}
