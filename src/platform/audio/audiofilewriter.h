#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>
#include <utility>

// The sink at the end of a conversion: interleaved float samples in, a song
// file out (MP3 through the LAME encoder, WAV, AIFF or FLAC), encoded by
// FFmpeg. Samples are rounded to the file's integer format only here, with
// dither where the format has 16 bits.
class AudioFileWriter
{
public:
    using Tags = QList<std::pair<QByteArray, QByteArray>>;
    struct Layout {
        QByteArray container;         // FFmpeg's muxer: "mp3", "wav", "aiff", "flac"
        int codecId = 0;              // an AVCodecID
        int sampleFormat = -1;        // the AVSampleFormat the encoder takes
        int bitsPerRawSample = 0;     // 24 for 24-bit samples held in 32 bits
        int sampleRate = 44100;
        int channels = 2;
        unsigned long long channelMask = 0;   // 0: the usual layout for the count
        qint64 bitRate = 0;           // constant bit rate, for MP3
        Tags tags;                    // "title", "artist", ...
        bool id3v23 = false;          // MP3: the tag version nearly every player reads
    };

    ~AudioFileWriter();
    AudioFileWriter(const AudioFileWriter &) = delete;
    AudioFileWriter &operator=(const AudioFileWriter &) = delete;

    // Creates the file; on failure nothing, with the reason worded for the user.
    [[nodiscard]] static std::unique_ptr<AudioFileWriter> create(const QString &path, const Layout &layout, QString *reason);

    // Encodes `frames` frames of interleaved samples (layout.channels each).
    bool write(const float *samples, qint64 frames, QString *reason);
    // Encodes what is left and closes the file.
    bool finish(QString *reason);

private:
    struct Context;
    AudioFileWriter();
    bool encode(bool last, QString *reason);

    std::unique_ptr<Context> d;
};
