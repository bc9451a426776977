#pragma once

#include <optional>

class MediaFileWindow;

// Counts the frames of a raw AAC stream in ADTS framing. Such files carry no length anywhere,
// so a demuxer can only estimate it from the bitrate; the frame count is exact.
class AdtsFrameCounter
{
public:
    [[nodiscard]] static std::optional<double> exactLengthMs(MediaFileWindow &window);
};
