#include "platform/audio/loudness/loudnessmeter.h"

#include "platform/audio/audiodecoder.h"

#include <ebur128.h>

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <algorithm>
#include <bit>
#include <cmath>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

struct StateDeleter {
    void operator()(ebur128_state *st) const { ebur128_destroy(&st); }
};

// BS.1770's weight follows where a channel plays: the low-frequency channel is
// not heard as loudness, the surrounds count a little more than the front.
int channelFor(unsigned long long bit)
{
    switch (bit) {
    case AV_CH_FRONT_LEFT:
        return EBUR128_LEFT;
    case AV_CH_FRONT_RIGHT:
        return EBUR128_RIGHT;
    case AV_CH_FRONT_CENTER:
        return EBUR128_CENTER;
    case AV_CH_LOW_FREQUENCY:
    case AV_CH_LOW_FREQUENCY_2:
        return EBUR128_UNUSED;
    case AV_CH_BACK_LEFT:
    case AV_CH_SIDE_LEFT:
    case AV_CH_BACK_CENTER:
        return EBUR128_LEFT_SURROUND;
    case AV_CH_BACK_RIGHT:
    case AV_CH_SIDE_RIGHT:
        return EBUR128_RIGHT_SURROUND;
    default:
        return EBUR128_Mp030; // weight 1, as a front channel
    }
}

// The meter's channel roles in the decoder's order (FFmpeg's native order:
// the layout's bits from the lowest up).
void mapChannels(ebur128_state *st, int channels, unsigned long long mask)
{
    if (channels == 1) {
        ebur128_set_channel(st, 0, EBUR128_DUAL_MONO);
        return;
    }
    if (mask == 0 || std::popcount(mask) != channels)
        return; // the meter's default: left, right, centre, unused, surrounds
    int index = 0;
    for (int b = 0; b < 64 && index < channels; ++b) {
        const unsigned long long bit = 1ULL << b;
        if (mask & bit)
            ebur128_set_channel(st, unsigned(index++), channelFor(bit));
    }
}

} // namespace

std::optional<Loudness> LoudnessMeter::measure(const QString &path, QString *reason, const std::atomic_bool *stop)
{
    // One rate and one layout for the whole song, whatever its frames switch
    // to; a mono song comes out on both channels, which the meter weighs as
    // it weighs dual mono.
    std::unique_ptr<AudioDecoder> decoder = AudioDecoder::open(path, AudioDecoder::Output{ 0, false, true }, reason);
    if (!decoder)
        return std::nullopt;
    // The rate and channels are known once the first block is decoded.
    std::unique_ptr<ebur128_state, StateDeleter> st;
    int channels = 0;
    bool failed = false;
    const bool whole = decoder->run(
        [&](const float *samples, qint64 frames) {
            if (stop && stop->load(std::memory_order_relaxed))
                return false;
            if (!st) {
                channels = decoder->outChannels();
                st.reset(ebur128_init(unsigned(channels), unsigned(decoder->outRate()),
                                      EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK));
                if (!st) {
                    failed = true;
                    return false;
                }
                mapChannels(st.get(), channels, decoder->sourceChannelMask());
            }
            if (ebur128_add_frames_float(st.get(), samples, size_t(frames)) != EBUR128_SUCCESS) {
                failed = true;
                return false;
            }
            return true;
        },
        reason);
    if (failed && reason)
        *reason = u"音量を測れません（メモリ不足）"_s;
    if (!whole || failed)
        return std::nullopt;
    if (!st)
        return Loudness{}; // no sample at all: silence

    Loudness result;
    double lufs = -HUGE_VAL;
    if (ebur128_loudness_global(st.get(), &lufs) == EBUR128_SUCCESS)
        result.lufs = lufs;
    double peak = 0;
    for (int c = 0; c < channels; ++c) {
        double p = 0;
        if (ebur128_true_peak(st.get(), unsigned(c), &p) == EBUR128_SUCCESS)
            peak = std::max(peak, p);
    }
    result.truePeakDb = peak > 0 ? 20.0 * std::log10(peak) : -HUGE_VAL;
    return result;
}
