#pragma once

#include <QByteArray>

#include <optional>

// Changes the level of an MP3 without decoding it: every Layer III frame
// carries a global gain per granule and channel, in steps of 1.5 dB, that the
// decoder applies to everything it reconstructs. Moving those fields moves the
// whole song by whole steps and leaves every other bit of the file as it was:
// the tags, the encoder's header frame, the audio data itself. A frame that
// carries a checksum gets it recomputed.
class Mp3FrameGain
{
public:
    struct Result {
        int frames = 0;    // audio frames changed
        int clamped = 0;   // granules whose gain was already at the end of its range
    };

    // Adds `steps` to the gain of every audio frame of `bytes`; nothing when
    // they hold no MPEG audio Layer III stream to walk (a free-format stream
    // among them, whose frames have no size in their headers).
    [[nodiscard]] static std::optional<Result> apply(QByteArray &bytes, int steps);
};
