#include "platform/audio/ordereddecodes.h"

#include "platform/audio/edits/editedrender.h"
#include "platform/audio/pcm16dither.h"

#include <QThread>

#include <deque>

using namespace Qt::StringLiterals;

namespace {
// Blocks big enough that the reader's writes are few, small enough that the
// reader never waits long for the first one.
constexpr qsizetype BlockBytes = 256 << 10;
}

struct OrderedDecodes::Slot
{
    std::deque<QByteArray> blocks;
    qint64 bytes = 0;
    bool done = false;
    QString failure;
};

OrderedDecodes::OrderedDecodes(QStringList paths, AudioDecoder::Output output, QList<float> gains, int threads,
                               QList<SongEdits> edits)
    : m_paths(std::move(paths))
    , m_output(output)
    , m_gains(std::move(gains))
    , m_edits(std::move(edits))
{
    for (qsizetype i = 0; i < m_paths.size(); ++i)
        m_slots.push_back(std::make_unique<Slot>());
    const int wanted = threads > 0 ? threads : qMax(1, QThread::idealThreadCount());
    const int count = int(qMin<qsizetype>(wanted, m_paths.size()));
    for (int i = 0; i < count; ++i)
        m_threads.emplace_back([this] { work(); });
}

OrderedDecodes::~OrderedDecodes()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
        m_changed.notify_all();
    }
    for (std::thread &thread : m_threads)
        thread.join();
}

void OrderedDecodes::work()
{
    // Songs are taken in order, so the one the reader waits for is always
    // being decoded: the reader never waits on a song nobody works on.
    for (int song = m_next++; song < int(m_paths.size()) && !m_stop; song = m_next++)
        decode(song);
}

void OrderedDecodes::decode(int song)
{
    Slot &slot = *m_slots[size_t(song)];
    QString reason;
    const SongEdits edits = m_edits.value(song);
    std::unique_ptr<AudioDecoder> decoder;
    std::optional<EditedRender> render;
    if (edits.isEmpty())
        decoder = AudioDecoder::open(m_paths.at(song), m_output, &reason);
    else
        render = EditedRender::open(m_paths.at(song), edits, m_output, &reason);
    bool ok = decoder != nullptr || render.has_value();
    if (ok) {
        const int channels = decoder ? decoder->outChannels() : render->channels();
        const float gain = m_gains.value(song, 1.0f);
        Pcm16Dither dither(quint32(song + 1) * 2654435761u);
        std::vector<float> scaled;
        QByteArray pending;
        const auto hand = [&] {
            std::unique_lock lock(m_mutex);
            // The song being read only waits for the reader; a later one waits
            // while the budget is spent. So the reader never waits on a song
            // that waits for memory.
            m_changed.wait(lock, [&] {
                return m_stop || (song == m_reading ? slot.bytes < AheadBytes : m_waiting < BudgetBytes);
            });
            if (m_stop)
                return false;
            slot.bytes += pending.size();
            if (song != m_reading)
                m_waiting += pending.size();
            slot.blocks.push_back(std::move(pending));
            pending = QByteArray();
            m_changed.notify_all();
            return true;
        };
        const AudioDecoder::Consumer consume = [&](const float *samples, qint64 frames) {
            const qint64 count = frames * (decoder ? decoder->outChannels() : channels);
            if (gain != 1.0f) {
                scaled.assign(samples, samples + count);
                for (float &s : scaled)
                    s *= gain;
                samples = scaled.data();
            }
            const qsizetype at = pending.size();
            pending.resize(at + qsizetype(count) * qsizetype(sizeof(qint16)));
            dither.convert(samples, reinterpret_cast<qint16 *>(pending.data() + at), count);
            return pending.size() < BlockBytes || hand();
        };
        ok = decoder ? decoder->run(consume, &reason) : render->run(consume, &m_stop, &reason);
        ok = ok && (pending.isEmpty() || hand());
    }
    const std::lock_guard lock(m_mutex);
    slot.done = true;
    if (!ok)
        slot.failure = reason.isEmpty() ? u"中止しました"_s : reason;
    m_changed.notify_all();
}

OrderedDecodes::Take OrderedDecodes::take(int song, QByteArray &block, QString *reason)
{
    Slot &slot = *m_slots.at(size_t(song));
    std::unique_lock lock(m_mutex);
    if (song != m_reading) {
        // What this song decoded ahead no longer counts against the budget.
        m_reading = song;
        m_waiting -= slot.bytes;
        m_changed.notify_all();
    }
    m_changed.wait(lock, [&] { return !slot.blocks.empty() || slot.done; });
    if (!slot.blocks.empty()) {
        block = std::move(slot.blocks.front());
        slot.blocks.pop_front();
        slot.bytes -= block.size();
        m_changed.notify_all();
        return Take::Block;
    }
    if (!slot.failure.isEmpty()) {
        if (reason)
            *reason = slot.failure;
        return Take::Failed;
    }
    return Take::End;
}
