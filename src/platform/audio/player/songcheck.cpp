#include "platform/audio/player/songcheck.h"

#include "platform/audio/audiodecoder.h"
#include "platform/audio/player/realtimestretch.h"

#include <QFuture>
#include <QMetaObject>
#include <QThread>
#include <QtConcurrent/QtConcurrentRun>

using namespace Qt::StringLiterals;

namespace {

QString clock(qint64 ms)
{
    const qint64 s = (ms + 500) / 1000;
    return u"%1:%2"_s.arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

// Empty when the song decodes to its end at the length listed.
QString checkSong(const SongCheck::Song &song, const std::atomic<bool> &stop)
{
    QString reason;
    const auto decoder = AudioDecoder::open(song.path, {}, &reason);
    if (!decoder)
        return u"「%1」を読めません（%2）"_s.arg(song.name, reason);
    qint64 frames = 0;
    const bool whole = decoder->run(
        [&](const float *, qint64 n) {
            frames += n;
            return !stop.load(std::memory_order_relaxed);
        },
        &reason);
    if (stop.load())
        return {};
    const qint64 decodedMs = decoder->outRate() > 0 ? frames * 1000 / decoder->outRate() : 0;
    if (!whole)
        return u"「%1」は %2 から先が読めません（%3）"_s.arg(song.name, clock(decodedMs), reason);
    if (song.listedMs > 0 && qAbs(decodedMs - song.listedMs) > SongCheck::ToleranceMs)
        return u"「%1」の長さが一覧の %2 と違います（実際は %3）"_s.arg(song.name, clock(song.listedMs), clock(decodedMs));
    if (const QString unheard = RealtimeStretch::unheardReason(song.edits); !unheard.isEmpty())
        return u"「%1」: %2"_s.arg(song.name, unheard);
    return {};
}

} // namespace

struct SongCheck::Worker
{
    QFuture<void> future;
};

SongCheck::SongCheck(QList<Song> songs, QObject *parent)
    : QObject(parent)
    , m_songs(std::move(songs))
    , m_worker(std::make_unique<Worker>())
{
    m_worker->future = QtConcurrent::run([this, songs = m_songs, stop = m_stop] {
        // The show's own player decodes too: it comes first.
        QThread::currentThread()->setPriority(QThread::LowestPriority);
        for (const Song &song : songs) {
            if (stop->load())
                break;
            const QString problem = checkSong(song, *stop);
            if (stop->load())
                break;
            QMetaObject::invokeMethod(this, [this, problem] { report(problem); }, Qt::QueuedConnection);
        }
        QThread::currentThread()->setPriority(QThread::NormalPriority);
    });
}

SongCheck::~SongCheck()
{
    m_stop->store(true);
    m_worker->future.waitForFinished();
}

void SongCheck::report(const QString &problem)
{
    ++m_checked;
    if (!problem.isEmpty())
        m_problems.append(problem);
    Q_EMIT progressed();
}
