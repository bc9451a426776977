#pragma once

#include "model/peaks.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>

// A song's outline, from the decode the player hears (the encoder's delay taken
// off, the frames the decoder gives), made on a thread of its own and kept on
// disk under `root` by the file's identity (device, inode, size and times, as
// the length cache knows a file again): a song seen before is there at once, and
// a file changed since is read again, never drawn from a stale outline. While it
// is made, peaks() holds what is known so far and progressed() says when more is.
class PeakScan : public QObject
{
    Q_OBJECT

public:
    // The folder the outlines are kept in (empty when the system gives none).
    [[nodiscard]] static QString defaultRoot();

    PeakScan(QString path, QString root, QObject *parent = nullptr);
    // Stops the decoding and waits for it.
    ~PeakScan() override;

    // What is known of the outline so far; complete once finished() came.
    [[nodiscard]] Peaks peaks() const;
    [[nodiscard]] const QString &path() const { return m_path; }
    [[nodiscard]] bool isFinished() const { return m_finished; }
    // Why the song could not be read; empty unless it could not.
    [[nodiscard]] QString failure() const;
    // Whether the outline came from disk rather than from a decode.
    [[nodiscard]] bool wasKept() const { return m_kept; }

    // The file an outline of `path` is kept in; empty when the file cannot be looked at.
    [[nodiscard]] static QString storeFile(const QString &root, const QString &path);

Q_SIGNALS:
    void progressed();
    void finished();

private:
    void run();

    const QString m_path;
    const QString m_root;
    mutable std::mutex m_mutex;
    Peaks m_peaks;
    QString m_failure;
    bool m_finished = false;
    bool m_kept = false;
    std::shared_ptr<std::atomic_bool> m_stop = std::make_shared<std::atomic_bool>(false);
    struct Worker;
    std::unique_ptr<Worker> m_worker;
};
