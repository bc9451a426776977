#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <utility>

// Reads a song file of any format FFmpeg knows and hands its audio on as
// interleaved float samples, the encoder's delay and padding already removed
// (the LAME header of an MP3, the edit list of an M4A), so what comes out is
// exactly the song. One decoder per song; several may run on several threads.
class AudioDecoder
{
public:
    struct Output {
        int sampleRate = 0;   // 0: the song's own rate
        bool stereo = true;   // false: the song's own channels
    };
    // Receives each block; returning false stops the decoding.
    using Consumer = std::function<bool(const float *samples, qint64 frames)>;

    ~AudioDecoder();
    AudioDecoder(const AudioDecoder &) = delete;
    AudioDecoder &operator=(const AudioDecoder &) = delete;

    // Opens the song and its first audio stream; on failure nothing, with the
    // reason worded for the user.
    [[nodiscard]] static std::unique_ptr<AudioDecoder> open(const QString &path, Output output, QString *reason);

    // Decodes to the end. False on a decoding error (the reason is set) or
    // when the consumer stopped it (the reason stays empty).
    bool run(const Consumer &consumer, QString *reason);

    // Moves to `frame` (at the output rate, counted from the song's first
    // sample after the trim) so that the next run() starts there. Exact where
    // the format's time stamps are; MP3 lands where FFmpeg's estimate puts it.
    // False when the song cannot be moved in (decoding goes on where it was).
    bool seek(qint64 frame);

    // Decodes the first second, to show that the song can be read at all.
    bool tryFirstSecond(QString *reason);

    [[nodiscard]] int outRate() const;
    [[nodiscard]] int outChannels() const;
    // The song's own channel layout as FFmpeg's mask (0 when it names none).
    [[nodiscard]] unsigned long long sourceChannelMask() const { return m_sourceMask; }
    [[nodiscard]] int sourceChannels() const { return m_sourceChannels; }
    // The length the container states, in milliseconds; 0 when it states none.
    [[nodiscard]] double statedLengthMs() const { return m_statedMs; }
    // The song's "artist" tag; empty when it has none.
    [[nodiscard]] QString artist() const { return m_artist; }

    // What the song is stored as, for writing it again in its own kind.
    struct Stored {
        QByteArray container;    // FFmpeg's demuxer name: "wav", "aiff", "flac", ...
        int codecId = 0;         // an AVCodecID
        int bitsPerSample = 0;   // of the stored samples; 0 when the format has none
        bool floating = false;   // stored as floating-point samples
        int sampleRate = 0;
    };
    [[nodiscard]] const Stored &stored() const { return m_stored; }
    // The song's tags (the container's and its audio stream's), as stored.
    [[nodiscard]] QList<std::pair<QByteArray, QByteArray>> tags() const;

private:
    struct Context;
    AudioDecoder();

    std::unique_ptr<Context> d;
    unsigned long long m_sourceMask = 0;
    int m_sourceChannels = 0;
    double m_statedMs = 0;
    QString m_artist;
    Stored m_stored;
};
