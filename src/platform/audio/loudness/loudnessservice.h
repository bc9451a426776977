#pragma once

#include "model/loudness.h"
#include "platform/media/lengthcache.h"

#include <QHash>
#include <QObject>
#include <QStringList>
#include <QThreadPool>

#include <atomic>
#include <optional>

// Measures the set list's songs in the background, on all cores, each song
// once: a result is kept in the length cache beside the song's length, under
// the same file identity, so a song changed since is measured again. The
// window asks and carries on; each result arrives as a signal.
class LoudnessService : public QObject
{
    Q_OBJECT

public:
    enum class State { Unknown, Measuring, Measured, Failed };
    struct Result {
        State state = State::Unknown;
        std::optional<Loudness> loudness;
    };

    // An empty cache root keeps nothing between runs.
    explicit LoudnessService(const QString &cacheRoot, QObject *parent = nullptr,
                             qint64 settleNs = LengthCache::DefaultSettleNs);
    // Stops the measurements under way and waits for them.
    ~LoudnessService() override;

    // Starts measuring every song not measured yet, or changed since it was;
    // returns at once.
    void request(const QStringList &paths);
    [[nodiscard]] Result result(const QString &path) const;
    // The result while the file is still the one measured: a song rendered
    // again under its name since gets nothing, so that a gain is never
    // worked out from its old level.
    [[nodiscard]] Result currentResult(const QString &path) const;
    [[nodiscard]] bool isMeasuring() const { return m_running > 0; }

    // Measures songs on all cores and waits for them, the cache first: for the
    // command line and for work that is already off the window's thread. A
    // song that cannot be measured has nothing, its reason in `failures`.
    [[nodiscard]] static QList<std::optional<Loudness>> measureAll(const QStringList &paths, const QString &cacheRoot,
                                                                   QStringList *failures = nullptr,
                                                                   const std::atomic_bool *stop = nullptr);

    // One song: the cache, else the meter (and the result kept in the cache).
    [[nodiscard]] static std::optional<Loudness> measureOne(const QString &path, const QString &cacheRoot, qint64 settleNs,
                                                            QString *reason, const std::atomic_bool *stop);

Q_SIGNALS:
    void measured(const QString &path);

private:
    struct Known {
        State state = State::Unknown;
        std::optional<Loudness> loudness;
        std::optional<LengthCache::Key> key;
    };
    void finish(const QString &path, const std::optional<LengthCache::Key> &key, const std::optional<Loudness> &loudness);

    QString m_root;
    qint64 m_settleNs;
    QHash<QString, Known> m_known;
    int m_running = 0;
    std::atomic_bool m_stop{ false };
    QThreadPool m_pool;
};
