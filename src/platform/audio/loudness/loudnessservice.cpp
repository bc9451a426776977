#include "platform/audio/loudness/loudnessservice.h"

#include "platform/audio/loudness/loudnessmeter.h"

#include <QMutex>

#include <thread>
#include <vector>

namespace {

// Writers of one cache file take turns, so that two songs of one folder
// measured at once do not each write the file without the other.
QMutex &cacheWrites()
{
    static QMutex mutex;
    return mutex;
}

std::pair<QString, QString> folderAndName(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    return { path.left(qMax<qsizetype>(slash, 0)), path.mid(slash + 1) };
}

} // namespace

LoudnessService::LoudnessService(const QString &cacheRoot, QObject *parent, qint64 settleNs)
    : QObject(parent), m_root(cacheRoot), m_settleNs(settleNs)
{
    m_pool.setMaxThreadCount(qMax(1, QThread::idealThreadCount()));
}

LoudnessService::~LoudnessService()
{
    m_stop = true;
    m_pool.waitForDone();
}

void LoudnessService::request(const QStringList &paths)
{
    for (const QString &path : paths) {
        // A stat per song: cheap enough for the window's thread, and what tells a changed file.
        const std::optional<LengthCache::Key> key = LengthCache::keyOfFile(path);
        Known &known = m_known[path];
        if (known.state != State::Unknown && known.key == key)
            continue;
        known = Known{ State::Measuring, std::nullopt, key };
        ++m_running;
        m_pool.start([this, path, key] {
            QString reason;
            std::optional<Loudness> loudness;
            if (key)
                loudness = measureOne(path, m_root, m_settleNs, &reason, &m_stop);
            // Dropped by Qt when the service is gone by then.
            QMetaObject::invokeMethod(this, [this, path, key, loudness] { finish(path, key, loudness); }, Qt::QueuedConnection);
        });
    }
}

void LoudnessService::finish(const QString &path, const std::optional<LengthCache::Key> &key,
                             const std::optional<Loudness> &loudness)
{
    --m_running;
    auto it = m_known.find(path);
    // A newer request for a changed file is under way: its result counts, not this one.
    if (it == m_known.end() || it->key != key)
        return;
    it->state = loudness ? State::Measured : State::Failed;
    it->loudness = loudness;
    Q_EMIT measured(path);
}

LoudnessService::Result LoudnessService::result(const QString &path) const
{
    const auto it = m_known.constFind(path);
    if (it == m_known.cend())
        return {};
    return { it->state, it->loudness };
}

LoudnessService::Result LoudnessService::currentResult(const QString &path) const
{
    const auto it = m_known.constFind(path);
    if (it == m_known.cend() || it->key != LengthCache::keyOfFile(path))
        return {};
    return { it->state, it->loudness };
}

std::optional<Loudness> LoudnessService::measureOne(const QString &path, const QString &cacheRoot, qint64 settleNs,
                                                    QString *reason, const std::atomic_bool *stop)
{
    const auto [folder, name] = folderAndName(path);
    const std::optional<LengthCache::Key> before = LengthCache::keyOfFile(path);
    if (before && !cacheRoot.isEmpty()) {
        const LengthCache cache(cacheRoot, folder, settleNs);
        if (const std::optional<Loudness> kept = cache.findLoudness(name, *before))
            return kept;
    }
    const std::optional<Loudness> loudness = LoudnessMeter::measure(path, reason, stop);
    // A file written to while it was measured may not match what was measured: not kept.
    if (!loudness || cacheRoot.isEmpty() || !before || LengthCache::keyOfFile(path) != before)
        return loudness;
    const QMutexLocker lock(&cacheWrites());
    LengthCache cache(cacheRoot, folder, settleNs);
    cache.keepLoaded();
    cache.insertLoudness(name, *before, *loudness);
    // A cache that cannot be written costs a measurement next time, nothing more.
    (void)cache.save();
    return loudness;
}

QList<std::optional<Loudness>> LoudnessService::measureAll(const QStringList &paths, const QString &cacheRoot,
                                                           QStringList *failures, const std::atomic_bool *stop)
{
    QList<std::optional<Loudness>> results(paths.size());
    QStringList reasons(paths.size());
    std::atomic<qsizetype> next{ 0 };
    const int count = int(qMin<qsizetype>(qMax(1, QThread::idealThreadCount()), paths.size()));
    std::vector<std::thread> threads;
    for (int t = 0; t < count; ++t)
        threads.emplace_back([&] {
            for (qsizetype i = next++; i < paths.size(); i = next++)
                results[i] = measureOne(paths[i], cacheRoot, LengthCache::DefaultSettleNs, &reasons[i], stop);
        });
    for (std::thread &t : threads)
        t.join();
    if (failures)
        *failures = reasons;
    return results;
}
