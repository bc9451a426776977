#include "platform/storage/recentsetlists.h"

#include "platform/storage/setliststorage.h"

#include <QFile>

QStringList RecentSetLists::load(const QString &file)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return {};
    QStringList paths;
    const QStringList lines = QString::fromUtf8(in.read(64 * 1024)).split(u'\n');
    for (const QString &line : lines) {
        if (paths.size() < Max && !line.trimmed().isEmpty())
            paths << line;
    }
    return paths;
}

std::optional<QString> RecentSetLists::save(const QString &file, const QStringList &paths)
{
    QByteArray bytes;
    for (const QString &path : paths)
        bytes += path.toUtf8() + '\n';
    return SetListStorage::write(file, bytes);
}

QStringList RecentSetLists::withFront(QStringList paths, const QString &path)
{
    paths.removeAll(path);
    paths.prepend(path);
    while (paths.size() > Max)
        paths.removeLast();
    return paths;
}
