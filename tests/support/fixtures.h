#pragma once

// Real files on real file systems for the tests: songs with known bytes,
// snapshots of folders, and small mounts (a tmpfs that really fills up, an exFAT
// volume that refuses names, a volume as slow as a USB stick) that live for one
// test and are always unmounted.

#include "model/exportplan.h"
#include "support/mediagen.h"
#include "support/systemonly.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QThread>

#include <optional>
#include <utility>

namespace fixtures {

using namespace Qt::StringLiterals;

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

inline QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// A set list named `name` in `folder`: each entry is a song's path, after any
// lines that go before it. Its path, or empty when it could not be written.
inline QString playlist(const QString &folder, const QString &name, const QStringList &entries)
{
    QByteArray text = "#EXTM3U\n#PLAYLIST:" + name.toUtf8() + '\n';
    for (const QString &entry : entries)
        text += entry.toUtf8() + '\n';
    const QString file = folder + u'/' + name + QStringLiteral(".m3u8");
    return writeFile(file, text) ? file : QString();
}

// Deterministic bytes, different for every seed, so that a copy of the wrong
// song or a shifted chunk cannot pass as equal.
inline QString writeSong(const QString &folder, const QString &name, qint64 size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (quint32 i = 0, x = seed * 2654435761u + 1; i < size; ++i) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        bytes[i] = char(x);
    }
    return writeFile(folder + u'/' + name, bytes) ? folder + u'/' + name : QString();
}

// A 44.1 kHz stereo WAV of 32-bit float samples, as given (NaNs included):
// no encoder writes those, but a damaged render or a plug-in can.
inline QByteArray floatWav(const QList<float> &interleaved)
{
    const auto le32 = [](quint32 v) { return QByteArray(reinterpret_cast<const char *>(&v), 4); };
    const auto le16 = [](quint16 v) { return QByteArray(reinterpret_cast<const char *>(&v), 2); };
    const QByteArray data(reinterpret_cast<const char *>(interleaved.constData()), interleaved.size() * 4);
    return "RIFF" + le32(quint32(36 + data.size())) + "WAVEfmt " + le32(16) + le16(3) + le16(2) + le32(44100)
        + le32(44100 * 8) + le16(8) + le16(32) + "data" + le32(quint32(data.size())) + data;
}

// Names, hashes and modification times of everything in a folder.
inline QMap<QString, QByteArray> snapshot(const QString &folder)
{
    QMap<QString, QByteArray> result;
    for (const QFileInfo &info : QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
        result.insert(info.fileName(), QCryptographicHash::hash(contents(info.filePath()), QCryptographicHash::Sha256)
                                           + QByteArray::number(info.lastModified().toMSecsSinceEpoch()));
    return result;
}

// Set-list rows numbered 01, 02, ... as the window numbers them.
inline QList<SetListRow> rowsFor(const QStringList &sources)
{
    QList<SetListRow> rows;
    for (qsizetype i = 0; i < sources.size(); ++i)
        rows.append({ int(i + 1), u"%1"_s.arg(i + 1, 2, 10, QChar(u'0')), sources.at(i), {}, {} });
    return rows;
}

// A tool's status and what it printed (both streams, UTF-8 as the Linux tools write it); through
// the media generators' runner, which also reaches the Linux tools from a test under Wine.
inline bool run(const QString &program, const QStringList &arguments, QString *output = nullptr)
{
    QByteArray printed;
    const bool ok = MediaGen::run(program, arguments, &printed, 60000, true);
    if (output)
        *output = QString::fromUtf8(printed).trimmed();
    return ok;
}

// A file system mounted for one test (root only, and never on Windows), unmounted when it
// goes out of scope, also when the test fails half-way. why() says what failed.
class ScopedMount
{
public:
    explicit ScopedMount(const QString &point) : m_point(point) {}
    ScopedMount(const ScopedMount &) = delete;
    ScopedMount &operator=(const ScopedMount &) = delete;
    ~ScopedMount()
    {
        if (m_mounted && !run(u"umount"_s, { m_point }))
            run(u"umount"_s, { u"-l"_s, m_point });
        if (!m_loop.isEmpty())
            run(u"losetup"_s, { u"-d"_s, m_loop });
    }
    [[nodiscard]] const QString &why() const { return m_why; }

    bool tmpfs(int sizeKiB)
    {
        return mount(u"mount"_s, { u"-t"_s, u"tmpfs"_s, u"-o"_s, u"size=%1k"_s.arg(sizeKiB), u"tmpfs"_s, m_point });
    }
    bool remountReadOnly() { return run(u"mount"_s, { u"-o"_s, u"remount,ro"_s, m_point }); }
    // A 16 MB exFAT volume, through FUSE (the kernel may lack exFAT).
    bool exfat(const QString &image)
    {
        if (const QString no = SystemOnly::noMounts(); !no.isEmpty())
            return fail(no);
        QFile file(image);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(16 << 20) || !run(u"mkfs.exfat"_s, { image }, &m_why))
            return fail(u"an exFAT volume needs mkfs.exfat "_s + m_why);
        return loop(image) && mount(u"mount.exfat-fuse"_s, { m_loop, m_point });
    }
    // The kernel's own ext4 on a loop device over an image made with mkfs.ext4.
    bool ext4(const QString &image) { return loop(image) && mount(u"mount"_s, { u"-t"_s, u"ext4"_s, m_loop, m_point }); }

private:
    bool loop(const QString &image)
    {
        return run(u"losetup"_s, { u"-f"_s, u"--show"_s, image }, &m_loop) || fail(u"no loop device: "_s + std::exchange(m_loop, {}));
    }
    bool mount(const QString &program, const QStringList &arguments)
    {
        if (const QString no = SystemOnly::noMounts(); !no.isEmpty())
            return fail(no);
        return m_mounted = run(program, arguments, &m_why);
    }
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

// A FUSE file system of the tests' own (a Python script) serving `point` while
// it runs; stopped and its mount point let go of when it goes out of scope.
class FuseDaemon
{
public:
    FuseDaemon(QString point, QString log) : m_point(std::move(point)), m_log(std::move(log)) {}
    ~FuseDaemon()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(10000))
                m_process.kill();
        }
        // A daemon killed at once leaves its mount point behind, unreadable;
        // one that ended by itself took it along, and this finds nothing.
        run(u"umount"_s, { u"-l"_s, m_point });
    }
    // Starts `script` with `arguments` and waits until `ready` exists.
    bool start(const char *script, const QStringList &arguments, const QString &ready)
    {
        m_process.setStandardErrorFile(m_log);
        m_process.start(u"/usr/bin/python3"_s, QStringList{ QString::fromLocal8Bit(script) } + arguments);
        for (int i = 0; m_process.waitForStarted() && i < 200 && !QFileInfo::exists(ready); ++i)
            QThread::msleep(50);
        return QFileInfo::exists(ready);
    }
    [[nodiscard]] QString log() const { return QString::fromLocal8Bit(contents(m_log)); }
    [[nodiscard]] qint64 pid() const { return m_process.processId(); }

private:
    QString m_point, m_log;
    QProcess m_process;
};

// A volume that behaves as a USB stick does under Linux: ext4 (a file system the
// kernel mounts itself) on a loop device whose backing file lies on a throttling
// FUSE file system, so the page cache fills as it does for a stick while the
// writes reach the storage at bytesPerSecond. arrived() reads how many bytes
// have reached it; pull() tears the device down as a stick pulled out would.
// Root only; everything is unmounted and detached when it goes out of scope.
class SlowVolume
{
public:
    explicit SlowVolume(const QString &work) : m_work(work), m_daemon(fuse(), work + u"/slowfs.log"_s) {}
    ~SlowVolume() { m_volume.reset(); }
    [[nodiscard]] const QString &why() const { return m_why; }
    [[nodiscard]] QString folder() const { return m_work + u"/volume"_s; }

    bool mount(qint64 sizeMiB = 256, qint64 bytesPerSecond = 10 << 20, int msPerFlush = 3)
    {
#ifndef KORVANDA_SLOWFS // only tests that link the test support know where the file system lies
#define KORVANDA_SLOWFS ""
#endif
        if (const QString no = SystemOnly::noMounts(); !no.isEmpty())
            return fail(no);
        const QString storage = m_work + u"/storage.img"_s;
        QFile file(storage);
        if (!*KORVANDA_SLOWFS || !QDir().mkpath(fuse()) || !QDir().mkpath(folder()) || !file.open(QIODevice::WriteOnly)
            || !file.resize(sizeMiB << 20))
            return fail(u"a slow volume needs korvanda_testsupport"_s);
        // No journal, like the FAT of a stick; the tables written now, not by a
        // background thread while the test measures.
        if (!run(u"mkfs.ext4"_s, { u"-q"_s, u"-F"_s, u"-O"_s, u"^has_journal"_s, u"-E"_s, u"lazy_itable_init=0"_s, storage }, &m_why))
            return fail(u"mkfs.ext4: "_s + m_why);
        m_daemon.start(KORVANDA_SLOWFS, { storage, fuse(), QString::number(bytesPerSecond), QString::number(msPerFlush) },
                       fuse() + u"/disk"_s);
        m_volume.emplace(folder());
        return m_volume->ext4(fuse() + u"/disk"_s) || fail(m_volume->why() + m_daemon.log());
    }

    // Bytes that have reached the storage since the FUSE file system came up.
    [[nodiscard]] qint64 arrived() const
    {
        QFile file(fuse() + u"/arrived"_s);
        return file.open(QIODevice::ReadOnly | QIODevice::Unbuffered) ? file.readAll().trimmed().toLongLong() : -1;
    }

    // The device is gone at once, mid-write if need be. Safe from any thread.
    void pull() const
    {
        if (const qint64 pid = m_daemon.pid(); pid > 0)
            SystemOnly::killNow(pid);
    }

private:
    [[nodiscard]] QString fuse() const { return m_work + u"/fuse"_s; }
    bool fail(const QString &why)
    {
        m_why = why;
        return false;
    }

    QString m_work;
    QString m_why;
    FuseDaemon m_daemon;
    std::optional<ScopedMount> m_volume;
};

// A copy of a song on a FUSE file system whose reads fail from `failFrom`
// bytes on, as a stick bumped loose fails mid-song. Root only; unmounted when
// it goes out of scope.
class FailingFile
{
public:
    explicit FailingFile(const QString &work) : m_folder(work + u"/failing"_s), m_daemon(m_folder, work + u"/failingfs.log"_s) {}
    [[nodiscard]] const QString &why() const { return m_why; }

    // The copy's path, empty (with why()) when it cannot be made.
    QString mount(const QString &source, qint64 failFrom)
    {
#ifndef KORVANDA_FAILINGFS
#define KORVANDA_FAILINGFS ""
#endif
        const QString copy = m_folder + u'/' + QFileInfo(source).fileName();
        m_why = SystemOnly::noMounts();
        if (m_why.isEmpty() && (!*KORVANDA_FAILINGFS || !QDir().mkpath(m_folder)))
            m_why = u"a failing file needs korvanda_testsupport"_s;
        if (m_why.isEmpty() && !m_daemon.start(KORVANDA_FAILINGFS, { source, m_folder, QString::number(failFrom) }, copy))
            m_why = u"failingfs: "_s + m_daemon.log();
        return m_why.isEmpty() ? copy : QString();
    }

private:
    QString m_folder;
    QString m_why;
    FuseDaemon m_daemon;
};

} // namespace fixtures
