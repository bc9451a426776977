#pragma once

#include <optional>

class MediaFileWindow;

// Counts the frames of a raw AAC stream in ADTS framing. Such files carry no length anywhere,
// so a demuxer can only estimate it from the bitrate; the frame count is exact.
class AdtsFrameCounter
{
public:
    [[nodiscard]] static std::optional<double> exactLengthMs(MediaFileWindow &window);
    // True when the audio (after any ID3v2 tag) starts with ADTS frames that chain: three in a
    // row, or fewer that end exactly where the audio ends.
    [[nodiscard]] static bool startsWithAdts(MediaFileWindow &window);
};
