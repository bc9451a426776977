#pragma once

// Real files and real file systems for the export engine's tests: songs with
// known bytes, snapshots of folders, and small mounts (a full tmpfs, a FAT
// volume) that exist only for one test and are always unmounted again.

#include "model/exportplan.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>

#include <unistd.h>

namespace fixtures {

using namespace Qt::StringLiterals;

inline bool isRoot()
{
    return ::geteuid() == 0;
}

// Deterministic bytes, different for every seed, so a copy of the wrong song
// or a shifted chunk cannot pass as equal.
inline QByteArray songBytes(qint64 size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 x = seed * 2654435761u + 1;
    for (qint64 i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = char(x);
    }
    return bytes;
}

inline QString writeSong(const QString &folder, const QString &name, qint64 size, quint32 seed)
{
    const QString path = folder + u'/' + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(songBytes(size, seed)) != size)
        return {};
    return path;
}

inline QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Names, sizes, hashes and modification times of everything in a folder.
inline QMap<QString, QByteArray> snapshot(const QString &folder)
{
    QMap<QString, QByteArray> result;
    const auto entries = QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System
                                                    | QDir::NoDotAndDotDot);
    for (const QFileInfo &info : entries) {
        result.insert(info.fileName(),
                      QCryptographicHash::hash(contents(info.filePath()), QCryptographicHash::Sha256)
                          + QByteArray::number(info.size()) + ' '
                          + QByteArray::number(info.lastModified().toMSecsSinceEpoch()));
    }
    return result;
}

inline QList<SetListRow> rowsFor(const QStringList &sources)
{
    QList<SetListRow> rows;
    for (qsizetype i = 0; i < sources.size(); ++i)
        rows.append({int(i + 1), u"%1"_s.arg(i + 1, 2, 10, QChar(u'0')), sources.at(i)});
    return rows;
}

inline int run(const QString &program, const QStringList &arguments, QString *output = nullptr)
{
    if (QStandardPaths::findExecutable(program).isEmpty()
        && QStandardPaths::findExecutable(program, {u"/sbin"_s, u"/usr/sbin"_s}).isEmpty())
        return -1;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(60000))
        return -1;
    if (output)
        *output = QString::fromLocal8Bit(process.readAll());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// A file system mounted for one test. Unmounted when it goes out of scope, also
// when the test fails half-way.
class ScopedMount
{
public:
    ScopedMount() = default;
    ScopedMount(const ScopedMount &) = delete;
    ScopedMount &operator=(const ScopedMount &) = delete;
    ~ScopedMount()
    {
        if (m_mounted && run(u"umount"_s, {m_point}) != 0)
            run(u"umount"_s, {u"-l"_s, m_point});
        if (!m_loop.isEmpty())
            run(u"losetup"_s, {u"-d"_s, m_loop});
    }

    [[nodiscard]] const QString &point() const { return m_point; }
    [[nodiscard]] const QString &why() const { return m_why; }

    // A tmpfs of sizeKiB: a disk that really fills up.
    bool mountTmpfs(const QString &point, int sizeKiB)
    {
        m_point = point;
        if (!isRoot())
            return fail(u"mounting a tmpfs needs root"_s);
        QString out;
        if (run(u"mount"_s, {u"-t"_s, u"tmpfs"_s, u"-o"_s, u"size=%1k"_s.arg(sizeKiB), u"tmpfs"_s, point},
                &out)
            != 0)
            return fail(u"cannot mount a tmpfs: "_s + out);
        m_mounted = true;
        return true;
    }

    bool remountReadOnly()
    {
        return run(u"mount"_s, {u"-o"_s, u"remount,ro"_s, m_point}) == 0;
    }

    // A small FAT volume: vfat through the kernel where it can, otherwise exFAT
    // through FUSE (both refuse the same characters in names).
    bool mountFat(const QString &image, const QString &point)
    {
        m_point = point;
        if (!isRoot())
            return fail(u"mounting a FAT image needs root"_s);
        QString out;
        QFile file(image);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(16 * 1024 * 1024))
            return fail(u"cannot create the image file"_s);
        file.close();
        if (run(u"mkfs.vfat"_s, {image}, &out) == 0
            && run(u"mount"_s, {u"-t"_s, u"vfat"_s, u"-o"_s, u"loop"_s, image, point}, &out) == 0) {
            m_mounted = true;
            return true;
        }
        if (run(u"mkfs.exfat"_s, {image}, &out) != 0)
            return fail(u"no vfat in this kernel and no mkfs.exfat: "_s + out);
        if (run(u"losetup"_s, {u"-f"_s, u"--show"_s, image}, &out) != 0)
            return fail(u"no loop device: "_s + out);
        m_loop = out.trimmed();
        if (run(u"mount.exfat-fuse"_s, {m_loop, point}, &out) != 0)
            return fail(u"cannot mount FAT or exFAT here: "_s + out);
        m_mounted = true;
        return true;
    }

    // An exFAT volume only, for tests that read the image afterwards: through
    // the kernel where it has exFAT, otherwise through FUSE.
    bool mountExfat(const QString &image, const QString &point)
    {
        m_point = point;
        if (!isRoot())
            return fail(u"mounting an exFAT image needs root"_s);
        QString out;
        QFile file(image);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(16 * 1024 * 1024))
            return fail(u"cannot create the image file"_s);
        file.close();
        if (run(u"mkfs.exfat"_s, {image}, &out) != 0)
            return fail(u"no mkfs.exfat: "_s + out);
        if (run(u"mount"_s, {u"-t"_s, u"exfat"_s, u"-o"_s, u"loop"_s, image, point}, &out) == 0) {
            m_mounted = true;
            return true;
        }
        if (run(u"losetup"_s, {u"-f"_s, u"--show"_s, image}, &out) != 0)
            return fail(u"no loop device: "_s + out);
        m_loop = out.trimmed();
        if (run(u"mount.exfat-fuse"_s, {m_loop, point}, &out) != 0)
            return fail(u"cannot mount exFAT here: "_s + out);
        m_mounted = true;
        return true;
    }

    bool unmount()
    {
        if (!m_mounted)
            return true;
        m_mounted = run(u"umount"_s, {m_point}) != 0;
        return !m_mounted;
    }

private:
    bool fail(const QString &why)
    {
        m_why = why;
        return false;
    }

    QString m_point;
    QString m_loop;
    QString m_why;
    bool m_mounted = false;
};

} // namespace fixtures
