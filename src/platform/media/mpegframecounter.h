#pragma once

#include <QtGlobal>

#include <optional>

class MediaFileWindow;

// Walks the frame headers of an MPEG audio stream (layers I-III, MPEG 1/2/2.5). Used where
// header-based length estimates are wrong: VBR streams without a Xing/Info/VBRI header, and
// streams whose header disagrees with the audio actually present.
class MpegFrameCounter
{
public:
    struct Header {
        int version = 0;      // 1 = MPEG 1, 2 = MPEG 2, 25 = MPEG 2.5
        int layer = 0;        // 1..3
        int bitrateKbps = 0;
        int sampleRate = 0;
        int frameBytes = 0;
        int samples = 0;      // per frame
        bool mono = false;
    };

    // What the first frame's Xing/Info/VBRI header says, with LAME's encoder delay and padding.
    struct InfoFrame {
        qint64 offset = 0;    // of the frame holding the header
        qint64 frames = 0;    // audio frames it announces (0: not given)
        qint64 bytes = 0;     // audio bytes it announces (0: not given)
        int encoderDelay = 0;
        int encoderPadding = 0;
        bool hasGapless = false;
    };

    struct Count {
        qint64 frames = 0;
        qint64 samples = 0;
        int sampleRate = 0;
        int distinctBitrates = 0;
        bool reachedEnd = false;
        qint64 firstFrame = -1;
        qint64 firstFrameBytes = 0;
    };

    explicit MpegFrameCounter(MediaFileWindow &window);

    [[nodiscard]] static std::optional<Header> parseHeader(quint32 word);

    [[nodiscard]] qint64 audioStart() const { return m_start; }
    [[nodiscard]] qint64 audioEnd() const { return m_end; }

    // The first frame's header when the audio (after any ID3v2 tags) starts right away with
    // frames of one stream that chain: three in a row, or fewer that end exactly where the
    // audio ends. Nothing otherwise.
    [[nodiscard]] std::optional<Header> chainedStart();
    [[nodiscard]] std::optional<InfoFrame> infoFrame();
    // Walks at most `maxFrames` frames from the first good frame at or after `from`.
    [[nodiscard]] Count walk(qint64 from, qint64 maxFrames);
    // True when the first couple of hundred frames and a window in the middle share one bitrate.
    [[nodiscard]] bool looksConstantBitrate();
    // The exact length from a frame count; LAME's gapless trim is applied as decoders do.
    [[nodiscard]] std::optional<double> exactLengthMs();

private:
    [[nodiscard]] std::optional<Header> headerAt(qint64 offset);
    [[nodiscard]] qint64 findSync(qint64 from, qint64 limit);

    MediaFileWindow &m_window;
    qint64 m_start = 0;
    qint64 m_end = 0;
};
