#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include "model/loudness.h"

#include <optional>

// The play lengths of one folder's entries as the last scan found them, and the loudness of the
// songs that were measured, kept in a small file under the user's cache folder so that a rescan
// reads no song that did not change and a song is measured once.
//
// An entry is found again only under the same name and the same key: device, inode, size,
// and modification and change times to the nanosecond (the change time moves on every write,
// even when a tool restores the modification time), and only when the lengths were written by
// this version of the probe. Entries that changed too recently to tell a later change from
// the same timestamp are not kept. A missing, damaged, truncated, foreign or unreadable file
// counts as empty and is rewritten by the next save.
class LengthCache
{
public:
    struct Key {
        quint64 device = 0;
        quint64 inode = 0;
        qint64 size = 0;
        qint64 modifiedNs = 0;
        qint64 changedNs = 0;
        bool operator==(const Key &) const = default;
    };

    // Caches older than this, or beyond this total size, are dropped oldest first at a save.
    static constexpr qint64 MaxAgeDays = 180;
    static constexpr qint64 MaxTotalBytes = 32 * 1024 * 1024;
    // How long after its last change an entry must have stood still to be kept: file systems
    // stamp times at a coarse clock (FAT at two seconds), and a change within the same tick
    // would leave the key as it was.
    static constexpr qint64 DefaultSettleNs = 3'000'000'000;

    // The folder that holds every folder's cache (empty when the system gives none).
    [[nodiscard]] static QString defaultRoot();

    // When the kept lengths are read: at once, or by load() (a scan reads them while it looks at
    // the folder's entries; both wait on the disk when it is cold).
    enum class Loading { Now, Later };

    // Loads what was kept for `folder` under `root`; an empty root keeps nothing. keyOf may be
    // asked at once; find, findLoudness and insert only once the kept lengths are loaded.
    LengthCache(const QString &root, const QString &folder, qint64 settleNs = DefaultSettleNs,
                Loading loading = Loading::Now);
    ~LengthCache();
    LengthCache(const LengthCache &) = delete;
    LengthCache &operator=(const LengthCache &) = delete;

    // Reads the kept lengths, with Loading::Later; does nothing once they are read.
    void load();

    // The key of the folder's entry `name`, links followed as the probe follows them; nothing
    // when the entry cannot be looked at. Safe to call from several threads at once.
    [[nodiscard]] std::optional<Key> keyOf(const QString &name) const;
    // The key of a file given by its whole path, as keyOf gives it.
    [[nodiscard]] static std::optional<Key> keyOfFile(const QString &path);
    // The kept length of `name` when its key is unchanged. Safe from several threads at once.
    [[nodiscard]] std::optional<double> find(const QString &name, const Key &key) const;

    // The kept loudness of `name` when its key is unchanged. Safe from several threads at once.
    [[nodiscard]] std::optional<Loudness> findLoudness(const QString &name, const Key &key) const;

    // Keeps a length for the next save (not thread-safe: call from one thread). A loudness kept
    // for the same key stays with it.
    void insert(const QString &name, const Key &key, double lengthMs);
    // Keeps a loudness for the next save, beside the length kept for the same key.
    void insertLoudness(const QString &name, const Key &key, const Loudness &loudness);
    // Keeps every loaded entry for the next save too: for a writer that adds to the file
    // without scanning the whole folder (the loudness of a few songs), and for a rescan that
    // found every entry as it was kept.
    void keepLoaded();
    [[nodiscard]] qsizetype loadedCount() const { return m_loaded.size(); }
    // True when the file was read whole and is recent: saving what was loaded would write nothing.
    [[nodiscard]] bool upToDate() const;
    // Writes what was inserted since loading, replacing the file atomically, and trims the
    // caches of other folders; writes nothing when that is what the file holds already.
    // False when it could not be written.
    bool save();

    // The file's bytes for a set of entries, and back; parse gives nothing for anything that is
    // not a whole, intact cache of `folder` by this version of the probe.
    struct Entry {
        Key key;
        double lengthMs = 0; // negative: not known (only the loudness was measured)
        std::optional<Loudness> loudness = std::nullopt;
        bool operator==(const Entry &) const = default;
    };
    using Entries = QHash<QString, Entry>;
    [[nodiscard]] static QByteArray serialize(const QString &folder, const Entries &entries);
    [[nodiscard]] static std::optional<Entries> parse(const QByteArray &bytes, const QString &folder);
    // The part of parse after the header's checks (versions, checksum): the folder and the
    // entries, every length checked against the bytes left.
    [[nodiscard]] static std::optional<Entries> parsePayload(const char *payload, qsizetype bytes,
                                                             const QString &folder);

    [[nodiscard]] QString filePath() const { return m_file; }

private:
    void trim() const;
    [[nodiscard]] bool trusted(const Key &key) const;
    // What is known of `name` under `key` so far: kept since loading, loaded, or nothing.
    [[nodiscard]] Entry entryFor(const QString &name, const Key &key) const;

    QString m_root;
    QString m_folder;
    QString m_file;
    QString m_fileName;
    qint64 m_settleNs;
    qint64 m_startedNs;
    int m_dirFd = -1;
    Entries m_loaded;
    bool m_read = false;
    bool m_intact = false; // the file was there and whole
    qint64 m_fileModifiedNs = 0;
    Entries m_kept;
};
