#include "platform/audio/loudness/mp3framegain.h"

#include "platform/audio/mp3frames.h"

#include <algorithm>

namespace {

// Moves the global gain of every granule and channel of one frame.
int changeFrame(uchar *frame, const Mp3Frames::Header &h, int steps)
{
    using namespace Mp3Frames;
    uchar *side = frame + h.sideInfoAt();
    int clamped = 0;
    for (int g = 0; g < h.granules(); ++g)
        for (int c = 0; c < h.channels; ++c) {
            const int at = globalGainBit(h, g, c);
            const int gain = readBits(side, at, 8) + steps;
            clamped += gain < 0 || gain > 255;
            writeBits(side, at, 8, std::clamp(gain, 0, 255));
        }
    updateCrc(frame, h);
    return clamped;
}

} // namespace

std::optional<Mp3FrameGain::Result> Mp3FrameGain::apply(QByteArray &bytes, int steps)
{
    using namespace Mp3Frames;
    const std::optional<Stream> stream = walk(bytes);
    if (!stream)
        return std::nullopt;
    Result result;
    uchar *data = reinterpret_cast<uchar *>(bytes.data());
    for (const Frame &f : stream->frames) {
        result.clamped += changeFrame(data + f.at, f.header, steps);
        ++result.frames;
    }
    return result;
}
