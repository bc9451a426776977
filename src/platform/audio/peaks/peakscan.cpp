#include "platform/audio/peaks/peakscan.h"

#include "platform/audio/audiodecoder.h"
#include "platform/media/lengthcache.h"
#include "platform/storage/replacefile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QMetaObject>
#include <QStandardPaths>
#include <QThread>
#include <QtConcurrent/QtConcurrentRun>

using namespace Qt::StringLiterals;

namespace {

// How often a part-made outline is offered to be drawn.
constexpr qint64 ProgressMs = 100;

} // namespace

struct PeakScan::Worker
{
    QFuture<void> future;
};

QString PeakScan::defaultRoot()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    return base.isEmpty() ? QString() : base + u"/peaks"_s;
}

QString PeakScan::storeFile(const QString &root, const QString &path)
{
    const auto key = LengthCache::keyOfFile(path);
    if (root.isEmpty() || !key)
        return {};
    // The identity is the name: a file changed in any way has another one.
    QByteArray identity = QFileInfo(path).absoluteFilePath().toUtf8();
    for (const qint64 v : { qint64(key->device), qint64(key->inode), key->size, key->modifiedNs, key->changedNs })
        identity += '|' + QByteArray::number(v);
    return root + u'/' + QString::fromLatin1(QCryptographicHash::hash(identity, QCryptographicHash::Sha1).toHex()) + u".peaks"_s;
}

PeakScan::PeakScan(QString path, QString root, QObject *parent)
    : QObject(parent)
    , m_path(std::move(path))
    , m_root(std::move(root))
    , m_worker(std::make_unique<Worker>())
{
    m_worker->future = QtConcurrent::run([this] {
        // A song that plays decodes too, and comes first.
        QThread::currentThread()->setPriority(QThread::LowPriority);
        run();
        QThread::currentThread()->setPriority(QThread::NormalPriority);
    });
}

PeakScan::~PeakScan()
{
    m_stop->store(true);
    m_worker->future.waitForFinished();
}

Peaks PeakScan::peaks() const
{
    std::lock_guard lock(m_mutex);
    return m_peaks;
}

QString PeakScan::failure() const
{
    std::lock_guard lock(m_mutex);
    return m_failure;
}

void PeakScan::run()
{
    const QString store = storeFile(m_root, m_path);
    const auto done = [this](bool kept) {
        QMetaObject::invokeMethod(this, [this, kept] {
            m_kept = kept;
            m_finished = true;
            Q_EMIT finished();
        }, Qt::QueuedConnection);
    };
    if (QFile file(store); !store.isEmpty() && file.open(QIODevice::ReadOnly)) {
        if (auto kept = Peaks::fromBytes(file.readAll()); kept && kept->isComplete()) {
            std::lock_guard lock(m_mutex);
            m_peaks = std::move(*kept);
            done(true);
            return;
        }
    }
    QString reason;
    // The player's own decode: the song's rate and channels as it hears them.
    const auto decoder = AudioDecoder::open(m_path, AudioDecoder::Output{ 0, true }, &reason);
    if (!decoder) {
        std::lock_guard lock(m_mutex);
        m_failure = reason;
        done(false);
        return;
    }
    // The rate is the decoder's once it has begun.
    Peaks peaks;
    QElapsedTimer since;
    since.start();
    const bool whole = decoder->run(
        [&](const float *samples, qint64 frames) {
            if (peaks.channels() == 0)
                peaks = Peaks(2, decoder->outRate());
            peaks.add(samples, frames);
            if (since.elapsed() >= ProgressMs) {
                since.restart();
                {
                    std::lock_guard lock(m_mutex);
                    m_peaks = peaks;
                }
                QMetaObject::invokeMethod(this, &PeakScan::progressed, Qt::QueuedConnection);
            }
            return !m_stop->load(std::memory_order_relaxed);
        },
        &reason);
    if (m_stop->load())
        return;
    if (peaks.channels() == 0)
        peaks = Peaks(2, qMax(1, decoder->outRate()));
    peaks.finish();
    {
        std::lock_guard lock(m_mutex);
        m_peaks = peaks;
        if (!whole)
            m_failure = reason;
    }
    // Only an outline of the whole song is kept: a damaged one is made again next time.
    if (whole && !store.isEmpty() && QDir().mkpath(m_root))
        (void)replaceFile(store, peaks.toBytes());
    done(false);
}
