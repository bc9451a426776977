#include "platform/audio/player/audioplayer.h"

#include "platform/audio/player/realtimemutex.h"
#include "platform/audio/player/songstream.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

#ifdef Q_OS_LINUX
#include <QDir>
#include <QFile>

#include <pthread.h>
#include <sched.h>
#endif

namespace {

// The output's buffer, kept full (of silence while nothing sounds): a song
// started now is heard after this much, and the output thread may be late by
// nearly as much without a gap. The sound server sizes its own latency after it.
constexpr int BufferMs = 20;
// While a song sounds, more is written ahead than the server asks for: what is
// written travels through a thread of the sound library and the server's own
// main thread, either of which a busy machine may hold back for tens of
// milliseconds, and that must not become a gap. Not more: a jump, a stop or
// a cut in the song is heard after what was written ahead.
constexpr int SoundingAheadMs = 100;
constexpr int TickMs = 4;
// For the tests: the stream takes only part of every other write, as Windows'
// backend does when its buffer is nearly full.
std::atomic_bool takingPartOfWrites = false;
constexpr int OutputPriority = 10;
// Ticks without a frame played after which the stream counts as not started.
constexpr int StallTicks = 12;
// Long enough that a start, a stop or a jump is not a click, short enough not
// to be heard as a fade.
constexpr int RampMs = 5;
constexpr int DevicePollMs = 250;
// Decoded ahead before a song sounds.
constexpr int ReadyMs = 30;
// The song frames the clock remembers having written.
constexpr size_t LogEntries = 64;

#ifdef Q_OS_LINUX
// The sound library carries what the output writes to the server on a thread
// of its own, at ordinary priority: a build on every core would keep it (and
// the song) waiting. It gets real-time priority just below the output's,
// where the system grants it (it may not); found by the name the library gives it.
void raiseSoundLibraryThread()
{
    const QStringList tasks = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &task : tasks) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(task));
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != "threaded-ml")
            continue;
        sched_param param{};
        param.sched_priority = OutputPriority - 1;
        (void)sched_setscheduler(pid_t(task.toInt()), SCHED_FIFO, &param);
    }
}
#endif

QAudioDevice deviceOf(const QByteArray &id)
{
    if (id.isEmpty())
        return QMediaDevices::defaultAudioOutput();
    const QList<QAudioDevice> devices = QMediaDevices::audioOutputs();
    for (const QAudioDevice &device : devices)
        if (device.id() == id)
            return device;
    return {};
}

int outputRate()
{
    const int rate = QMediaDevices::defaultAudioOutput().preferredFormat().sampleRate();
    return rate >= 8000 && rate <= 192000 ? rate : 48000;
}

} // namespace

// A stretch of song frames written to the output one after another.
struct Written {
    qint64 sink = 0;  // the output frame the stretch starts at
    qint64 song = 0;  // the song frame it starts with
    qint64 count = 0;
};

struct AudioPlayer::Voice {
    AudioPlayer::Id id = 0;
    QString path;
    SongEdits edits;
    qint64 songMs = 0;
    std::unique_ptr<SongStream> stream;
    float gain = 1;
    float level = 0;       // the ramp: 0 silent, 1 at the song's own gain
    bool active = false;   // playing, not only armed
    bool closing = false;
    qint64 fadeFrames = 0; // a fade-out longer than the ramp, when closing
    qint64 pendingSeek = -1;
    qint64 shown = 0;      // the place shown before any of it is heard
    qint64 startSink = -1; // the output frame its sound begins at, since it was last started or moved
    bool ended = false;
    qint64 endSink = 0;
    qint64 endSong = 0;
    bool failed = false;
    // The output was lost while it sounded: held at `shown`, where it was
    // heard, until its owner plays it again.
    bool interrupted = false;
    std::deque<Written> log;
};

namespace {
// The song frame the device has played of the voice, by the output frame `played`.
qint64 heardFrame(const AudioPlayer::Voice &v, qint64 played)
{
    if (v.ended && played >= v.endSink)
        return v.endSong;
    if (!v.log.empty() && played >= v.log.front().sink) {
        for (auto it = v.log.crbegin(); it != v.log.crend(); ++it)
            if (it->sink <= played)
                return it->song + qMin(played - it->sink, it->count);
    }
    if (!v.log.empty())
        return v.log.front().song;
    return v.shown;
}
} // namespace

struct Mixer {
    mutable RealtimeMutex lock;
    QHash<AudioPlayer::Id, std::shared_ptr<AudioPlayer::Voice>> voices;
    QList<std::shared_ptr<AudioPlayer::Voice>> closing;
    // Faded out: the stream's thread is joined on the player's thread, never the output's.
    QList<std::shared_ptr<AudioPlayer::Voice>> dead;
    qint64 written = 0;   // output frames written, over every stream opened
    qint64 played = 0;    // output frames played, as the device tells
    std::chrono::steady_clock::time_point playedAt; // when `played` was last read
    bool open = false;
    std::atomic<int> underruns{ 0 };
    std::atomic<bool> sounding{ false };
    std::atomic<bool> running{ false };
    std::atomic<int> losses{ 0 };
};

// Lives on the output thread: the stream and the timer that fills it.
class OutputEngine : public QObject
{
public:
    OutputEngine(std::shared_ptr<Mixer> mixer, int rate) : m_mixer(std::move(mixer)), m_rate(rate) {}

    void begin()
    {
#ifdef Q_OS_LINUX
        // Real-time scheduling where the system grants it (it may not): the
        // output must be fed even when a build keeps every core busy.
        sched_param param{};
        param.sched_priority = OutputPriority;
        (void)pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
#endif
        m_timer = new QTimer(this);
        m_timer->setTimerType(Qt::PreciseTimer);
        m_timer->setInterval(TickMs);
        connect(m_timer, &QTimer::timeout, this, [this] { tick(); });
    }

    void open(const QAudioDevice &device)
    {
        close();
        QAudioFormat format;
        format.setSampleRate(m_rate);
        format.setChannelCount(SongStream::Channels);
        format.setSampleFormat(QAudioFormat::Float);
        if (!device.isFormatSupported(format))
            format.setSampleFormat(QAudioFormat::Int16);
        m_format = format;
        m_pending.clear();
        m_sink = new QAudioSink(device, format, this);
        m_sink->setBufferSize(format.bytesForDuration(qint64(BufferMs) * 1000));
        m_io = m_sink->start();
#ifdef Q_OS_LINUX
        raiseSoundLibraryThread();
#endif
        {
            std::unique_lock lock(m_mixer->lock);
            m_base = m_mixer->written;
            m_mixer->open = m_io != nullptr;
        }
        m_mixer->running = false;
        m_lastPlayed = -1;
        m_stillTicks = 0;
        if (!m_io)
            return;
        // The server starts a new stream once more than its buffer is waiting; it
        // asks for no more than the buffer, so the first silence is written unasked.
        const QByteArray silence(m_sink->bufferSize() * 2, '\0');
        {
            std::unique_lock lock(m_mixer->lock);
            m_mixer->written += silence.size() / format.bytesPerFrame();
        }
        write(silence);
        m_timer->start();
    }

    // Closes the stream on purpose (another device chosen, the player ending):
    // what plays goes on through the next one.
    void close()
    {
        m_timer->stop();
        if (!m_sink)
            return;
        {
            std::unique_lock lock(m_mixer->lock);
            // What was queued is gone with the stream: count it as played.
            m_mixer->played = m_mixer->written;
            m_mixer->open = false;
        }
        dropStream();
    }

    // The stream is gone from under the player (the server went away, the
    // device was pulled): every song that sounded is held where it was heard
    // and a fade under way is dropped, so that nothing sounds by itself when
    // an output is there again. The player opens one again when it can.
    void lose()
    {
        m_timer->stop();
        if (!m_sink)
            return;
        {
            std::unique_lock lock(m_mixer->lock);
            const qint64 played = m_mixer->played;
            for (const auto &v : std::as_const(m_mixer->voices)) {
                if (!v->active || v->failed || v->interrupted || (v->ended && played >= v->endSink))
                    continue;
                v->shown = v->pendingSeek >= 0 ? v->pendingSeek : heardFrame(*v, played);
                v->pendingSeek = -1;
                v->log.clear();
                v->startSink = -1;
                v->ended = false;
                v->level = 0;
                v->interrupted = true;
            }
            m_mixer->dead.append(m_mixer->closing);
            m_mixer->closing.clear();
            // Nothing queued will be heard: the next stream's frames follow on.
            m_mixer->played = m_mixer->written;
            m_mixer->open = false;
            // A stream that never played (the server not back yet) is no new loss.
            if (m_lastPlayed > 0)
                ++m_mixer->losses;
        }
        dropStream();
    }

private:
    void dropStream()
    {
        m_pending.clear();
        m_sink->disconnect(this);
        m_sink->stop();
        delete m_sink;
        m_sink = nullptr;
        m_io = nullptr;
    }

    void tick()
    {
        if (!m_io)
            return;
        // A stream stopped by the server (it went away, or the device did) never
        // starts again by itself: it is let go of, and the player opens a new one.
        if (m_sink->state() == QAudio::StoppedState || m_sink->error() != QAudio::NoError) {
            lose();
            return;
        }
        // What the sound system did not take last time goes first: the frames
        // counted as written are all delivered, in their order.
        if (!m_pending.isEmpty()) {
            const QByteArray pending = std::exchange(m_pending, QByteArray());
            write(pending);
            if (!m_pending.isEmpty())
                return;
        }
        const int frameBytes = m_format.bytesPerFrame();
        const qint64 free = m_sink->bytesFree() / frameBytes;
        const qint64 played = m_sink->processedUSecs() * m_rate / 1000000;

        std::unique_lock lock(m_mixer->lock);
        m_mixer->played = qMax(m_mixer->played, qMin(m_base + played, m_mixer->written));
        m_mixer->playedAt = std::chrono::steady_clock::now();
        bool sounding = !m_mixer->closing.isEmpty();
        for (const auto &v : std::as_const(m_mixer->voices))
            sounding = sounding || sounds(*v);
        // The server drained all that was written: what plays now is a gap.
        const bool dry = m_mixer->running && free * frameBytes >= m_sink->bufferSize();
        if (dry && m_mixer->sounding && !m_wasDry)
            ++m_mixer->underruns;
        m_wasDry = dry;
        m_mixer->sounding = sounding;
        const qint64 inFlight = m_mixer->written - qMin(m_base + played, m_mixer->written);
        // A stream the server has not started waits for more than it asked for: when
        // nothing has been played for a while, a buffer's worth more is written.
        if (played != m_lastPlayed) {
            m_lastPlayed = played;
            m_stillTicks = 0;
        }
        const bool stalled = ++m_stillTicks > StallTicks;
        if (stalled)
            m_stillTicks = 0;
        const qint64 bufferFrames = qint64(m_rate) * BufferMs / 1000;
        qint64 frames = qMax(qMax(free, stalled ? bufferFrames : 0), bufferFrames - inFlight);
        const qint64 ahead = qint64(m_rate) * SoundingAheadMs / 1000 - inFlight;
        // Writing ahead is a reserve, never a cause of a gap: it waits for a song
        // whose decoder has not got that far yet (a song just started unarmed).
        if (sounding && ahead > frames && decodedAhead(ahead))
            frames = ahead;
        if (frames <= 0)
            return;
        m_mixer->running = true;
        m_mix.assign(size_t(frames) * SongStream::Channels, 0.0f);
        for (const auto &v : std::as_const(m_mixer->voices))
            if (v->active && !v->interrupted)
                mix(*v, frames);
        for (qsizetype i = m_mixer->closing.size() - 1; i >= 0; --i) {
            mix(*m_mixer->closing[i], frames);
            if (m_mixer->closing[i]->level <= 0 || m_mixer->closing[i]->failed)
                m_mixer->dead.append(m_mixer->closing.takeAt(i));
        }
        m_mixer->written += frames;
        lock.unlock();
        write(samples(frames));
    }

    static bool sounds(const AudioPlayer::Voice &v)
    {
        return v.active && !v.interrupted && v.level > 0 && !v.failed && !v.ended;
    }

    // Whether every song that sounds has `frames` decoded ahead (or all the rest of it).
    bool decodedAhead(qint64 frames) const
    {
        for (const auto &v : std::as_const(m_mixer->voices))
            if (sounds(*v) && !v->stream->hasAhead(frames))
                return false;
        for (const auto &v : std::as_const(m_mixer->closing))
            if (!v->stream->hasAhead(frames))
                return false;
        return true;
    }

    // Adds `frames` of the voice to the mix, ramping its level where it starts,
    // stops or jumps, and notes which song frames went where.
    void mix(AudioPlayer::Voice &v, qint64 frames)
    {
        const float ramp = 1.0f / float(qMax(1, m_rate * RampMs / 1000));
        qint64 at = 0;
        while (at < frames && !v.failed) {
            if (v.pendingSeek >= 0 && v.level <= 0) {
                v.stream->seek(v.pendingSeek);
                v.pendingSeek = -1;
                v.ended = false;
            }
            const bool fadeOut = v.closing || v.pendingSeek >= 0;
            if (fadeOut && v.level <= 0)
                return;
            const float step = v.closing && v.fadeFrames > 0 ? 1.0f / float(v.fadeFrames) : ramp;
            // A song starts (or comes back) only with a little of it decoded, so that
            // it does not stop again a moment later.
            if (!fadeOut && v.level <= 0 && !v.stream->hasAhead(qint64(m_rate) * ReadyMs / 1000))
                return;
            m_song.resize(size_t(frames - at) * SongStream::Channels);
            qint64 first = 0;
            const qint64 n = v.stream->read(m_song.data(), frames - at, &first);
            if (n == 0) {
                const SongStream::Status status = v.stream->status();
                if (status == SongStream::Status::Failed) {
                    v.failed = true;
                } else if (status == SongStream::Status::Ended) {
                    if (!v.ended) {
                        v.ended = true;
                        v.endSink = m_mixer->written + at;
                        v.endSong = first;
                    }
                }
                // A fade cut short by a dry decoder ends here.
                if (fadeOut)
                    v.level = 0;
                return;
            }
            // A decoder that fell behind leaves a gap: the song fades into it over
            // what there is rather than stopping dead, and fades in again after it.
            const bool starved = n < frames - at && !fadeOut && v.stream->status() == SongStream::Status::Playing;
            const qint64 tail = starved ? qMin<qint64>(n, qint64(1.0f / ramp)) : 0;
            if (starved)
                ++m_mixer->underruns;
            float *out = m_mix.data() + at * SongStream::Channels;
            const float *in = m_song.data();
            for (qint64 i = 0; i < n; ++i) {
                v.level = fadeOut ? qMax(0.0f, v.level - step) : qMin(1.0f, v.level + step);
                float g = v.gain * v.level;
                if (i >= n - tail)
                    g *= float(n - i - 1) / float(tail);
                out[2 * i] += in[2 * i] * g;
                out[2 * i + 1] += in[2 * i + 1] * g;
            }
            if (starved)
                v.level = 0;
            if (!fadeOut) {
                const qint64 sink = m_mixer->written + at;
                if (v.startSink < 0)
                    v.startSink = sink;
                if (!v.log.empty() && v.log.back().sink + v.log.back().count == sink
                    && v.log.back().song + v.log.back().count == first)
                    v.log.back().count += n;
                else
                    v.log.push_back({ sink, first, n });
                while (v.log.size() > LogEntries)
                    v.log.pop_front();
            }
            at += n;
        }
    }

    // The mix as the stream's sample format.
    QByteArray samples(qint64 frames)
    {
        const qint64 samples = frames * SongStream::Channels;
        QByteArray bytes;
        if (m_format.sampleFormat() == QAudioFormat::Float) {
            for (float &s : m_mix)
                s = std::isnan(s) ? 0.0f : s;
            bytes = QByteArray(reinterpret_cast<const char *>(m_mix.data()), samples * qint64(sizeof(float)));
        } else {
            bytes.resize(samples * qint64(sizeof(qint16)));
            auto *pcm = reinterpret_cast<qint16 *>(bytes.data());
            for (qint64 i = 0; i < samples; ++i) {
                const float s = m_mix[size_t(i)];
                pcm[i] = std::isnan(s) ? 0 : qint16(std::lrint(std::clamp(s, -1.0f, 1.0f) * 32767.0f));
            }
        }
        return bytes;
    }

    // Hands the bytes to the stream; what it does not take now (Windows' backend
    // takes only what fits its buffer) is kept and written first next time.
    void write(const QByteArray &bytes)
    {
        qint64 offered = bytes.size();
        if (takingPartOfWrites.load(std::memory_order_relaxed) && (m_partly = !m_partly))
            offered = offered / 2 / m_format.bytesPerFrame() * m_format.bytesPerFrame();
        const qint64 took = qMax<qint64>(0, m_io->write(bytes.constData(), offered));
        if (took < bytes.size())
            m_pending = bytes.mid(took);
    }

    std::shared_ptr<Mixer> m_mixer;
    const int m_rate;
    QTimer *m_timer = nullptr;
    QAudioSink *m_sink = nullptr;
    QIODevice *m_io = nullptr;
    QAudioFormat m_format;
    QByteArray m_pending;
    bool m_partly = false;
    qint64 m_base = 0;
    bool m_wasDry = false;
    qint64 m_lastPlayed = -1;
    int m_stillTicks = 0;
    std::vector<float> m_mix;
    std::vector<float> m_song;
};

AudioPlayer::AudioPlayer(QObject *parent)
    : QObject(parent)
    , m_rate(outputRate())
    , m_thread(new QThread(this))
    , m_devices(new QMediaDevices(this))
    , m_mixer(std::make_shared<Mixer>())
{
    m_engine = new OutputEngine(m_mixer, m_rate);
    m_engine->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_engine, &QObject::deleteLater);
    m_thread->setObjectName(QStringLiteral("audio output"));
    m_thread->start(QThread::TimeCriticalPriority);
    QMetaObject::invokeMethod(m_engine, [e = m_engine] { e->begin(); }, Qt::BlockingQueuedConnection);
    connect(m_devices, &QMediaDevices::audioOutputsChanged, this, &AudioPlayer::devicesChanged);
    // The server's notice that a device went away does not always come, and
    // meanwhile it moves the stream to its default device, perhaps the hall's
    // speakers: a chosen device is looked for now and then as well. A stream
    // lost with the server is opened again here once there is one.
    auto *poll = new QTimer(this);
    poll->setInterval(DevicePollMs);
    connect(poll, &QTimer::timeout, this, [this] {
        if (!m_device.isEmpty() || !isOutputOpen())
            devicesChanged();
    });
    poll->start();
    devicesChanged();
}

AudioPlayer::~AudioPlayer()
{
    QMetaObject::invokeMethod(m_engine, [e = m_engine] { e->close(); }, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    std::unique_lock lock(m_mixer->lock);
    const auto voices = std::move(m_mixer->voices);
    const auto closing = std::move(m_mixer->closing);
    const auto dead = std::move(m_mixer->dead);
    lock.unlock();
}

void AudioPlayer::devicesChanged()
{
    const QAudioDevice device = deviceOf(m_device);
    if (device.isNull()) {
        // Never through another device by itself: nothing plays until it is back.
        // The sound server may already have moved the stream to its default.
        if (!m_openedOn.isNull() || isOutputOpen()) {
            m_openedOn = QByteArray();
            QMetaObject::invokeMethod(m_engine, [e = m_engine] { e->lose(); }, Qt::BlockingQueuedConnection);
        }
        return;
    }
    if (device.id() == m_openedOn && isOutputOpen())
        return;
    m_openedOn = device.id();
    QMetaObject::invokeMethod(m_engine, [e = m_engine, device] { e->open(device); }, Qt::BlockingQueuedConnection);
}

void AudioPlayer::setDevice(const QByteArray &id)
{
    // The same device again is looked for again: the server's notice that it
    // went away may never have come.
    if (id != m_device || !isOutputOpen()) {
        m_device = id;
        m_openedOn = QByteArray();
    }
    devicesChanged();
}

bool AudioPlayer::isOutputOpen() const
{
    std::unique_lock lock(m_mixer->lock);
    return m_mixer->open;
}

std::shared_ptr<AudioPlayer::Voice> AudioPlayer::voiceOf(Id id) const
{
    return m_mixer->voices.value(id);
}

void AudioPlayer::reap()
{
    std::unique_lock lock(m_mixer->lock);
    const auto dead = std::move(m_mixer->dead);
    m_mixer->dead.clear();
    lock.unlock();
}

AudioPlayer::Id AudioPlayer::open(const QString &path, const SongEdits &edits, qint64 songMs, qint64 fromMs)
{
    reap();
    auto voice = std::make_shared<Voice>();
    voice->id = ++m_lastId;
    voice->path = path;
    voice->edits = edits;
    voice->songMs = songMs;
    voice->stream = std::make_unique<SongStream>(path, m_rate, edits, songMs);
    if (fromMs > 0) {
        voice->shown = fromMs * m_rate / 1000;
        voice->stream->seek(voice->shown);
    }
    std::unique_lock lock(m_mixer->lock);
    m_mixer->voices.insert(voice->id, voice);
    return voice->id;
}

void AudioPlayer::play(Id id)
{
    std::unique_lock lock(m_mixer->lock);
    const auto v = voiceOf(id);
    if (!v)
        return;
    if (v->interrupted) {
        // From where it was heard when the output went: the decoder had run ahead.
        v->interrupted = false;
        v->pendingSeek = v->shown;
    } else if (v->ended && m_mixer->played >= v->endSink) {
        v->pendingSeek = 0;
        v->shown = 0;
        v->log.clear();
        v->startSink = -1;
    }
    v->active = true;
}

void AudioPlayer::close(Id id, int fadeMs)
{
    std::unique_lock lock(m_mixer->lock);
    const auto v = m_mixer->voices.take(id);
    if (!v) {
        // Closing a song again while it fades out shortens its fade: Esc twice cuts.
        const qint64 frames = qint64(qMax(0, fadeMs)) * m_rate / 1000;
        for (const auto &fading : std::as_const(m_mixer->closing))
            if (fading->id == id && fading->fadeFrames > frames)
                fading->fadeFrames = frames;
        return;
    }
    v->closing = true;
    v->fadeFrames = qint64(qMax(0, fadeMs)) * m_rate / 1000;
    // Only a song that still sounds fades: one that failed (its file broke off)
    // has nothing more to give, and kept among the fading it would count as
    // sounding for ever, the output writing ahead as if a song played.
    if (v->active && !v->interrupted && !v->failed && v->level > 0)
        m_mixer->closing.append(v);
    else
        m_mixer->dead.append(v);
    lock.unlock();
    QTimer::singleShot(RampMs * 4 + BufferMs + qMax(0, fadeMs), this, &AudioPlayer::reap);
}

void AudioPlayer::release(Id id)
{
    {
        std::unique_lock lock(m_mixer->lock);
        if (!m_mixer->voices.contains(id))
            return; // fading out already, or gone
    }
    close(id);
}

void AudioPlayer::seek(Id id, qint64 ms)
{
    std::unique_lock lock(m_mixer->lock);
    const auto v = voiceOf(id);
    if (!v || v->failed)
        return;
    v->pendingSeek = qMax<qint64>(0, ms) * m_rate / 1000;
    v->shown = v->pendingSeek;
    v->log.clear();
    v->startSink = -1;
    v->ended = false;
    v->interrupted = false;
    v->active = true;
}

void AudioPlayer::setGain(Id id, float gain)
{
    std::unique_lock lock(m_mixer->lock);
    if (const auto v = voiceOf(id))
        v->gain = std::isfinite(gain) ? qMax(0.0f, gain) : 1.0f;
}

AudioPlayer::State AudioPlayer::state(Id id) const
{
    std::unique_lock lock(m_mixer->lock);
    const auto v = voiceOf(id);
    if (!v)
        return State::Closed;
    if (v->failed || v->stream->status() == SongStream::Status::Failed)
        return State::Failed;
    if (v->interrupted)
        return State::Interrupted;
    if (!v->active)
        return State::Armed;
    if (v->ended && m_mixer->played >= v->endSink)
        return State::Ended;
    return State::Playing;
}

qint64 AudioPlayer::positionMs(Id id) const
{
    std::unique_lock lock(m_mixer->lock);
    const auto v = voiceOf(id);
    if (!v)
        return 0;
    return (v->interrupted ? v->shown : heardFrame(*v, m_mixer->played)) * 1000 / m_rate;
}

QString AudioPlayer::pathOf(Id id) const
{
    std::unique_lock lock(m_mixer->lock);
    const auto v = voiceOf(id);
    return v ? v->path : QString();
}

QList<AudioPlayer::Id> AudioPlayer::songsOf(const QString &path) const
{
    std::unique_lock lock(m_mixer->lock);
    QList<Id> ids;
    for (const auto &v : std::as_const(m_mixer->voices))
        if (v->path == path)
            ids.append(v->id);
    std::sort(ids.begin(), ids.end());
    return ids;
}

std::optional<qint64> AudioPlayer::heardAgoMs(Id id, Edge edge) const
{
    std::unique_lock lock(m_mixer->lock);
    const auto v = voiceOf(id);
    if (!v)
        return std::nullopt;
    const qint64 frame = edge == Edge::Start ? v->startSink : (v->ended ? v->endSink : -1);
    if (frame < 0 || m_mixer->played < frame)
        return std::nullopt;
    // The device's count is read every few milliseconds: the time since then counts too.
    const auto sinceRead = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now()
                                                                                  - m_mixer->playedAt);
    return (m_mixer->played - frame) * 1000 / m_rate + sinceRead.count();
}

bool AudioPlayer::isRunning() const
{
    return m_mixer->running;
}

int AudioPlayer::underruns() const
{
    return m_mixer->underruns;
}

int AudioPlayer::outputLosses() const
{
    return m_mixer->losses;
}

void AudioPlayer::takePartOfEachWriteForTest(bool partly)
{
    takingPartOfWrites.store(partly);
}
