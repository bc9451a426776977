#pragma once

#include <QtGlobal>

#include <optional>

class MediaFileWindow;

// Counts the frames of a raw AC-3 / E-AC-3 stream. Every frame header gives its own size and
// sample count, so the count is exact without opening a demuxer and a decoder.
class Ac3FrameCounter
{
public:
    struct Frame {
        int bytes = 0;
        int samples = 0;      // per frame; 0 for frames that add no time (E-AC-3 substreams)
        int sampleRate = 0;
    };

    // Parses the first 6 bytes of a frame (sync word 0x0B77 first).
    [[nodiscard]] static std::optional<Frame> parseHeader(const uchar *p);
    [[nodiscard]] static std::optional<double> exactLengthMs(MediaFileWindow &window);
    // True when the audio (after any ID3v2 tag) starts with AC-3 frames that chain: three in a
    // row, or fewer that end exactly where the audio ends.
    [[nodiscard]] static bool startsWithAc3(MediaFileWindow &window);
};
