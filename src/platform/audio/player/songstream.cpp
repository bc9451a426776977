#include "platform/audio/player/songstream.h"

#include "platform/audio/audiodecoder.h"
#include "platform/audio/editeddecode.h"
#include "platform/audio/player/realtimestretch.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace {
// A few seconds ahead: enough to ride out a busy machine, never the whole song.
constexpr int BufferSeconds = 4;
// The decoder waits until this much room is free, so that it wakes a few
// times a second rather than at every read of the output.
constexpr int RefillMs = 500;
} // namespace

SongStream::SongStream(const QString &path, int rate, const SongEdits &edits, qint64 songMs)
    : m_path(path)
    , m_rate(rate)
    , m_edits(edits)
    , m_songMs(songMs)
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
        m_brokeOff.clear(); // read again from elsewhere, it may read now
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
    if (m_decodedAll && availableLocked() == 0)
        return m_brokeOff.isEmpty() ? Status::Ended : Status::Failed;
    return Status::Playing;
}

QString SongStream::failure() const
{
    std::lock_guard lock(m_mutex);
    return m_failure.isEmpty() ? m_brokeOff : m_failure;
}

bool SongStream::hasAhead(qint64 frames) const
{
    std::lock_guard lock(m_mutex);
    return m_seekTo < 0 && (m_decodedAll || availableLocked() >= std::min(frames, m_capacity));
}

bool SongStream::push(const float *samples, qint64 frames)
{
    // Takes each decoded block whole, waiting for room; a seek or the end
    // stops the decoder (what it was given is dropped with the buffer).
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
    if (m_edits.isEmpty())
        playPlain(*decoder);
    else
        playEdited(*decoder);
}

void SongStream::playPlain(AudioDecoder &decoder)
{
    const auto consume = [this](const float *samples, qint64 frames) { return push(samples, frames); };
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
            const bool moved = decoder.seek(seekTo);
            std::lock_guard lock(m_mutex);
            if (m_seekTo == seekTo) {
                m_seekTo = -1;
                if (!moved)
                    m_origin = 0;
            }
            continue;
        }
        QString why;
        const bool ended = decoder.run(consume, &why);
        std::lock_guard lock(m_mutex);
        delivered = delivered || m_written > 0;
        if (ended || !why.isEmpty()) {
            // A song that gives nothing at all cannot be played; one that stops
            // reading part-way (a stick bumped loose) plays what it gave and
            // then fails there, rather than pass for a song that ended.
            if (!why.isEmpty() && !delivered)
                m_failure = why;
            else if (!why.isEmpty() && m_seekTo < 0)
                m_brokeOff = why;
            if (m_seekTo < 0)
                m_decodedAll = true;
            if (!m_failure.isEmpty())
                return;
        }
    }
}

void SongStream::playEdited(AudioDecoder &decoder)
{
    // The edits are laid out on the length the song was measured at, as the set
    // list's length was worked out from it, so the two agree.
    const qint64 songMs = m_songMs > 0 ? m_songMs : qint64(decoder.statedLengthMs());
    SongEdits edits = m_edits.fitted(songMs);
    // Without a stretcher the song is heard in its own key and tempo, and its
    // positions are those of that song, not of a stretch that never happens.
    if (!RealtimeStretch::available())
        edits.semitones = 0, edits.tempoPercent = 100;
    const EditPlan plan(edits, qint64(std::llround(double(songMs) * m_rate / 1000.0)), m_rate);
    std::unique_ptr<RealtimeStretch> stretch;
    if (edits.stretches())
        stretch = std::make_unique<RealtimeStretch>(m_rate, int(Channels), edits.semitones, plan.tempo());

    qint64 from = 0; // the output frame decoding starts at
    bool delivered = false;
    std::vector<float> stretched;
    for (;;) {
        qint64 seekTo = -1;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [&] { return m_stop || m_seekTo >= 0 || !m_decodedAll; });
            if (m_stop)
                return;
            seekTo = m_seekTo;
            if (seekTo >= 0) {
                m_seekTo = -1;
                from = std::min(seekTo, plan.outputFrames());
                continue;
            }
        }
        // Exactly the edited length comes out: a stretcher's last frames may
        // fall a little short of it or go a little beyond.
        const qint64 limit = plan.outputFrames() - from;
        qint64 emitted = 0;
        const auto give = [&](const float *samples, qint64 frames) {
            const qint64 n = std::min(frames, limit - emitted);
            if (n > 0 && !push(samples, n))
                return false;
            emitted += std::max<qint64>(0, n);
            return true;
        };
        if (stretch)
            stretch->reset();
        const auto consume = [&](const float *samples, qint64 frames) {
            if (!stretch)
                return give(samples, frames) && emitted < limit;
            stretched.clear();
            stretch->process(samples, long(frames), false, stretched);
            return give(stretched.data(), qint64(stretched.size()) / Channels) && emitted < limit;
        };
        QString why;
        const bool complete = decodeEdited(decoder, plan, plan.joinedOfOutput(from), consume, &why);
        bool finished = complete || emitted >= limit;
        if (finished && stretch && emitted < limit) {
            stretched.clear();
            stretch->process(nullptr, 0, true, stretched);
            finished = give(stretched.data(), qint64(stretched.size()) / Channels);
            const std::vector<float> silence(size_t(std::max<qint64>(0, limit - emitted)) * Channels, 0.0f);
            finished = finished && give(silence.data(), qint64(silence.size()) / Channels);
        }
        std::lock_guard lock(m_mutex);
        delivered = delivered || m_written > 0;
        if (finished || !why.isEmpty()) {
            if (!why.isEmpty() && !delivered)
                m_failure = why;
            else if (!why.isEmpty() && m_seekTo < 0)
                m_brokeOff = why;
            if (m_seekTo < 0)
                m_decodedAll = true;
            if (!m_failure.isEmpty())
                return;
        }
    }
}
