#include "platform/audio/audioplayer.h"

#include "platform/audio/songstream.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <vector>

#ifdef Q_OS_LINUX
#include <pthread.h>
#include <sched.h>
#endif

namespace {

// The output's buffer, kept full (of silence while nothing sounds): a song
// started now is heard after this much, and the output thread may be late by
// nearly as much without a gap. The sound server sizes its own latency after it.
const int BufferMs = qEnvironmentVariableIntValue("KORVANDA_OUTPUT_MS") > 0 ? qEnvironmentVariableIntValue("KORVANDA_OUTPUT_MS") : 30;
constexpr int TickMs = 4;
// Long enough that a start, a stop or a jump is not a click, short enough not
// to be heard as a fade.
constexpr int RampMs = 5;
// The song frames the clock remembers having written.
constexpr size_t LogEntries = 64;

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
    QString path;
    std::unique_ptr<SongStream> stream;
    float gain = 1;
    float level = 0;       // the ramp: 0 silent, 1 at the song's own gain
    bool active = false;   // playing, not only armed
    bool closing = false;
    qint64 pendingSeek = -1;
    qint64 shown = 0;      // the place shown before any of it is heard
    bool ended = false;
    qint64 endSink = 0;
    qint64 endSong = 0;
    bool failed = false;
    std::deque<Written> log;
};

struct Mixer {
    mutable QMutex lock;
    QHash<QString, std::shared_ptr<AudioPlayer::Voice>> voices;
    QList<std::shared_ptr<AudioPlayer::Voice>> closing;
    // Faded out: the stream's thread is joined on the player's thread, never the output's.
    QList<std::shared_ptr<AudioPlayer::Voice>> dead;
    qint64 written = 0;   // output frames written, over every stream opened
    qint64 played = 0;    // output frames played, as the device tells
    bool open = false;
    std::atomic<int> underruns{ 0 };
    std::atomic<bool> sounding{ false };
    std::atomic<bool> running{ false };
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
        param.sched_priority = 10;
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
        m_sink = new QAudioSink(device, format, this);
        m_sink->setBufferSize(format.bytesForDuration(qint64(BufferMs) * 1000));
        connect(m_sink, &QAudioSink::stateChanged, this, [this](QAudio::State state) {
            if (state == QAudio::IdleState && m_sink->error() == QAudio::UnderrunError && m_mixer->sounding)
                ++m_mixer->underruns;
        }, Qt::DirectConnection);
        m_io = m_sink->start();
        {
            QMutexLocker lock(&m_mixer->lock);
            m_base = m_mixer->written;
            m_mixer->open = m_io != nullptr;
        }
        m_mixer->running = false;
        if (!m_io)
            return;
        // The server starts a new stream once more than its buffer is waiting; it
        // asks for no more than the buffer, so the first silence is written unasked.
        const QByteArray silence(m_sink->bufferSize() * 2, '\0');
        const qint64 wrote = m_io->write(silence);
        {
            QMutexLocker lock(&m_mixer->lock);
            m_mixer->written += qMax<qint64>(0, wrote) / format.bytesPerFrame();
        }
        m_timer->start();
    }

    void close()
    {
        m_timer->stop();
        if (!m_sink)
            return;
        {
            QMutexLocker lock(&m_mixer->lock);
            // What was queued is gone with the stream: count it as played.
            m_mixer->played = m_mixer->written;
            m_mixer->open = false;
        }
        m_sink->disconnect(this);
        m_sink->stop();
        delete m_sink;
        m_sink = nullptr;
        m_io = nullptr;
    }

private:
    void tick()
    {
        if (!m_io || m_sink->state() == QAudio::StoppedState)
            return;
        const int frameBytes = m_format.bytesPerFrame();
        const qint64 free = m_sink->bytesFree() / frameBytes;
        const qint64 played = m_sink->processedUSecs() * m_rate / 1000000;

        QMutexLocker lock(&m_mixer->lock);
        m_mixer->played = qMax(m_mixer->played, qMin(m_base + played, m_mixer->written));
        bool sounding = !m_mixer->closing.isEmpty();
        for (const auto &v : std::as_const(m_mixer->voices))
            sounding = sounding || (v->active && !v->failed && !v->ended);
        m_mixer->sounding = sounding;
        const qint64 frames = free;
        if (frames <= 0)
            return;
        m_mixer->running = true;
        m_mix.assign(size_t(frames) * SongStream::Channels, 0.0f);
        for (const auto &v : std::as_const(m_mixer->voices))
            if (v->active)
                mix(*v, frames);
        for (qsizetype i = m_mixer->closing.size() - 1; i >= 0; --i) {
            mix(*m_mixer->closing[i], frames);
            if (m_mixer->closing[i]->level <= 0)
                m_mixer->dead.append(m_mixer->closing.takeAt(i));
        }
        m_mixer->written += frames;
        lock.unlock();
        write(frames);
    }

    // Adds `frames` of the voice to the mix, ramping its level where it starts,
    // stops or jumps, and notes which song frames went where.
    void mix(AudioPlayer::Voice &v, qint64 frames)
    {
        const float step = 1.0f / float(qMax(1, m_rate * RampMs / 1000));
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
                } else if (status == SongStream::Status::Playing && v.level > 0 && !fadeOut) {
                    ++m_mixer->underruns; // the decoder fell behind the output
                }
                // A fade cut short by a dry decoder ends here.
                if (fadeOut)
                    v.level = 0;
                return;
            }
            float *out = m_mix.data() + at * SongStream::Channels;
            const float *in = m_song.data();
            for (qint64 i = 0; i < n; ++i) {
                v.level = fadeOut ? qMax(0.0f, v.level - step) : qMin(1.0f, v.level + step);
                const float g = v.gain * v.level;
                out[2 * i] += in[2 * i] * g;
                out[2 * i + 1] += in[2 * i + 1] * g;
            }
            if (!fadeOut) {
                const qint64 sink = m_mixer->written + at;
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

    void write(qint64 frames)
    {
        const qint64 samples = frames * SongStream::Channels;
        QByteArray bytes;
        if (m_format.sampleFormat() == QAudioFormat::Float) {
            for (float &s : m_mix)
                s = std::isnan(s) ? 0.0f : s;
            bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(m_mix.data()), samples * qint64(sizeof(float)));
        } else {
            bytes.resize(samples * qint64(sizeof(qint16)));
            auto *pcm = reinterpret_cast<qint16 *>(bytes.data());
            for (qint64 i = 0; i < samples; ++i) {
                const float s = m_mix[size_t(i)];
                pcm[i] = std::isnan(s) ? 0 : qint16(std::lrint(std::clamp(s, -1.0f, 1.0f) * 32767.0f));
            }
        }
        m_io->write(bytes.constData(), bytes.size());
    }

    std::shared_ptr<Mixer> m_mixer;
    const int m_rate;
    QTimer *m_timer = nullptr;
    QAudioSink *m_sink = nullptr;
    QIODevice *m_io = nullptr;
    QAudioFormat m_format;
    qint64 m_base = 0;
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
    devicesChanged();
}

AudioPlayer::~AudioPlayer()
{
    QMetaObject::invokeMethod(m_engine, [e = m_engine] { e->close(); }, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    QMutexLocker lock(&m_mixer->lock);
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
        if (!m_openedOn.isNull()) {
            m_openedOn = QByteArray();
            QMetaObject::invokeMethod(m_engine, [e = m_engine] { e->close(); }, Qt::BlockingQueuedConnection);
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
    if (id == m_device && isOutputOpen())
        return;
    m_device = id;
    m_openedOn = QByteArray();
    devicesChanged();
}

bool AudioPlayer::isOutputOpen() const
{
    QMutexLocker lock(&m_mixer->lock);
    return m_mixer->open;
}

std::shared_ptr<AudioPlayer::Voice> AudioPlayer::voiceOf(const QString &path) const
{
    return m_mixer->voices.value(path);
}

void AudioPlayer::reap()
{
    QMutexLocker lock(&m_mixer->lock);
    const auto dead = std::move(m_mixer->dead);
    m_mixer->dead.clear();
    lock.unlock();
}

void AudioPlayer::arm(const QString &path)
{
    reap();
    QMutexLocker lock(&m_mixer->lock);
    if (m_mixer->voices.contains(path))
        return;
    auto voice = std::make_shared<Voice>();
    voice->path = path;
    voice->stream = std::make_unique<SongStream>(path, m_rate);
    m_mixer->voices.insert(path, voice);
}

void AudioPlayer::play(const QString &path)
{
    arm(path);
    QMutexLocker lock(&m_mixer->lock);
    const auto v = voiceOf(path);
    if (v->ended && m_mixer->played >= v->endSink) {
        v->pendingSeek = 0;
        v->shown = 0;
        v->log.clear();
    }
    v->active = true;
}

void AudioPlayer::close(const QString &path)
{
    QMutexLocker lock(&m_mixer->lock);
    const auto v = m_mixer->voices.take(path);
    if (!v)
        return;
    v->closing = true;
    if (v->active && v->level > 0)
        m_mixer->closing.append(v);
    else
        m_mixer->dead.append(v);
    lock.unlock();
    QTimer::singleShot(RampMs * 4 + BufferMs, this, &AudioPlayer::reap);
}

void AudioPlayer::seek(const QString &path, qint64 ms)
{
    QMutexLocker lock(&m_mixer->lock);
    const auto v = voiceOf(path);
    if (!v || v->failed)
        return;
    v->pendingSeek = qMax<qint64>(0, ms) * m_rate / 1000;
    v->shown = v->pendingSeek;
    v->log.clear();
    v->ended = false;
    v->active = true;
}

void AudioPlayer::setGain(const QString &path, float gain)
{
    QMutexLocker lock(&m_mixer->lock);
    if (const auto v = voiceOf(path))
        v->gain = std::isfinite(gain) ? qMax(0.0f, gain) : 1.0f;
}

AudioPlayer::State AudioPlayer::state(const QString &path) const
{
    QMutexLocker lock(&m_mixer->lock);
    const auto v = voiceOf(path);
    if (!v)
        return State::Closed;
    if (v->failed || v->stream->status() == SongStream::Status::Failed)
        return State::Failed;
    if (!v->active)
        return State::Armed;
    if (v->ended && m_mixer->played >= v->endSink)
        return State::Ended;
    return State::Playing;
}

qint64 AudioPlayer::positionMs(const QString &path) const
{
    QMutexLocker lock(&m_mixer->lock);
    const auto v = voiceOf(path);
    if (!v)
        return 0;
    const qint64 played = m_mixer->played;
    qint64 frame = v->shown;
    if (v->ended && played >= v->endSink) {
        frame = v->endSong;
    } else if (!v->log.empty() && played >= v->log.front().sink) {
        for (auto it = v->log.crbegin(); it != v->log.crend(); ++it) {
            if (it->sink <= played) {
                frame = it->song + qMin(played - it->sink, it->count);
                break;
            }
        }
    } else if (!v->log.empty()) {
        frame = v->log.front().song;
    }
    return frame * 1000 / m_rate;
}

QStringList AudioPlayer::paths() const
{
    QMutexLocker lock(&m_mixer->lock);
    return m_mixer->voices.keys();
}

bool AudioPlayer::isRunning() const
{
    return m_mixer->running;
}

int AudioPlayer::underruns() const
{
    return m_mixer->underruns;
}
