#include "platform/audio/songstream.h"

#include "platform/audio/audiodecoder.h"

#include <algorithm>
#include <cstring>

namespace {
// A few seconds ahead: enough to ride out a busy machine, never the whole song.
constexpr int BufferSeconds = 4;
// The decoder waits until this much room is free, so that it wakes a few
// times a second rather than at every read of the output.
constexpr int RefillMs = 500;
} // namespace

SongStream::SongStream(const QString &path, int rate)
    : m_path(path)
    , m_rate(rate)
    , m_capacity(qint64(rate) * BufferSeconds)
    , m_ring(size_t(m_capacity) * Channels)
{
    m_worker = std::thread([this] { work(); });
}

SongStream::~SongStream()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_worker.join();
}

qint64 SongStream::read(float *out, qint64 frames, qint64 *at)
{
    qint64 n = 0;
    bool wake = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_seekTo >= 0 && m_written == 0) {
            *at = m_seekTo;
            return 0;
        }
        *at = m_origin + m_read;
        n = std::min(frames, availableLocked());
        const qint64 start = m_read % m_capacity;
        const qint64 first = std::min(n, m_capacity - start);
        std::memcpy(out, m_ring.data() + start * Channels, size_t(first) * Channels * sizeof(float));
        std::memcpy(out + first * Channels, m_ring.data(), size_t(n - first) * Channels * sizeof(float));
        m_read += n;
        wake = !m_decodedAll && m_capacity - availableLocked() >= qint64(m_rate) * RefillMs / 1000;
    }
    if (wake)
        m_wake.notify_one();
    return n;
}

void SongStream::seek(qint64 frame)
{
    {
        std::lock_guard lock(m_mutex);
        m_seekTo = std::max<qint64>(0, frame);
        m_origin = m_seekTo;
        m_read = m_written = 0;
        m_decodedAll = false;
    }
    m_wake.notify_one();
}

SongStream::Status SongStream::status() const
{
    std::lock_guard lock(m_mutex);
    if (!m_failure.isEmpty())
        return Status::Failed;
    if (!m_opened)
        return Status::Opening;
    return m_decodedAll && availableLocked() == 0 ? Status::Ended : Status::Playing;
}

QString SongStream::failure() const
{
    std::lock_guard lock(m_mutex);
    return m_failure;
}

bool SongStream::hasAhead(qint64 frames) const
{
    std::lock_guard lock(m_mutex);
    return m_seekTo < 0 && (m_decodedAll || availableLocked() >= std::min(frames, m_capacity));
}

void SongStream::work()
{
    QString reason;
    const auto decoder = AudioDecoder::open(m_path, AudioDecoder::Output{ m_rate, true }, &reason);
    {
        std::lock_guard lock(m_mutex);
        if (!decoder) {
            m_failure = reason;
            return;
        }
        m_opened = true;
    }
    // Takes each decoded block whole, waiting for room; a seek or the end
    // stops the decoder (what it was given is dropped with the buffer).
    const auto consume = [this](const float *samples, qint64 frames) {
        std::unique_lock lock(m_mutex);
        while (frames > 0) {
            m_wake.wait(lock, [&] { return m_stop || m_seekTo >= 0 || availableLocked() < m_capacity; });
            if (m_stop || m_seekTo >= 0)
                return false;
            const qint64 n = std::min(frames, m_capacity - availableLocked());
            const qint64 start = m_written % m_capacity;
            const qint64 first = std::min(n, m_capacity - start);
            std::memcpy(m_ring.data() + start * Channels, samples, size_t(first) * Channels * sizeof(float));
            std::memcpy(m_ring.data(), samples + first * Channels, size_t(n - first) * Channels * sizeof(float));
            m_written += n;
            samples += n * Channels;
            frames -= n;
        }
        return true;
    };
    bool delivered = false;
    for (;;) {
        qint64 seekTo = -1;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [&] { return m_stop || m_seekTo >= 0 || !m_decodedAll; });
            if (m_stop)
                return;
            seekTo = m_seekTo;
        }
        if (seekTo >= 0) {
            // A song that cannot be moved in goes on where it was, rather than stop.
            const bool moved = decoder->seek(seekTo);
            std::lock_guard lock(m_mutex);
            if (m_seekTo == seekTo) {
                m_seekTo = -1;
                if (!moved)
                    m_origin = 0;
            }
            continue;
        }
        QString why;
        const bool ended = decoder->run(consume, &why);
        std::lock_guard lock(m_mutex);
        delivered = delivered || m_written > 0;
        if (ended || !why.isEmpty()) {
            // A damaged tail ends the song where it breaks; a song that gives
            // nothing at all cannot be played.
            if (!delivered && !why.isEmpty())
                m_failure = why;
            if (m_seekTo < 0)
                m_decodedAll = true;
            if (!m_failure.isEmpty())
                return;
        }
    }
}
