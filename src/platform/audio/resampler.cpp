#include "platform/audio/resampler.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

Resampler::Resampler(int outRate, bool stereo) : m_wantedRate(outRate), m_stereo(stereo)
{
}

Resampler::~Resampler()
{
    swr_free(&m_swr);
}

bool Resampler::setUp(const AVFrame *frame)
{
    AVChannelLayout in{};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_NATIVE)
        av_channel_layout_copy(&in, &frame->ch_layout);
    else
        av_channel_layout_default(&in, frame->ch_layout.nb_channels);
    // The first frame decides what the song's own rate and channels are; a
    // later frame is converted into them.
    AVChannelLayout out{};
    if (m_stereo)
        out = AV_CHANNEL_LAYOUT_STEREO;
    else if (m_outChannels == 0)
        av_channel_layout_copy(&out, &in);
    else if (m_outMask != 0)
        av_channel_layout_from_mask(&out, m_outMask);
    else
        av_channel_layout_default(&out, m_outChannels);

    m_inRate = frame->sample_rate;
    m_inFormat = frame->format;
    m_inChannels = frame->ch_layout.nb_channels;
    m_inMask = in.order == AV_CHANNEL_ORDER_NATIVE ? in.u.mask : 0;
    m_outRate = m_wantedRate > 0 ? m_wantedRate : m_outRate > 0 ? m_outRate : frame->sample_rate;
    m_outChannels = out.nb_channels;
    m_outMask = out.order == AV_CHANNEL_ORDER_NATIVE ? out.u.mask : 0;

    swr_free(&m_swr);
    const int failed = swr_alloc_set_opts2(&m_swr, &out, AV_SAMPLE_FMT_FLT, m_outRate, &in,
                                           AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
    bool ok = failed == 0 && m_swr;
    // A surround mix folded into two channels is scaled so that it cannot
    // clip, as FFmpeg scales it on its way to 16 bits.
    ok = ok && av_opt_set_double(m_swr, "rematrix_maxval", 1.0, 0) >= 0;
    // A mono song is heard on both speakers at its own level, as a mono
    // recording played on a stereo system is; the library's default would
    // lower it by 3 dB.
    if (ok && out.nb_channels == 2 && in.nb_channels == 1) {
        const double matrix[2] = { 1.0, 1.0 };
        ok = swr_set_matrix(m_swr, matrix, 1) == 0;
    }
    ok = ok && swr_init(m_swr) >= 0;
    av_channel_layout_uninit(&in);
    av_channel_layout_uninit(&out);
    if (!ok)
        swr_free(&m_swr);
    return ok;
}

bool Resampler::convert(const AVFrame *frame, std::vector<float> &out)
{
    if (frame) {
        const bool changed = !m_swr || frame->sample_rate != m_inRate || frame->format != m_inFormat
            || frame->ch_layout.nb_channels != m_inChannels
            || (frame->ch_layout.order == AV_CHANNEL_ORDER_NATIVE && frame->ch_layout.u.mask != m_inMask);
        if (changed) {
            // What the old setting still holds belongs before the new frames.
            if (m_swr && !convert(nullptr, out))
                return false;
            if (!setUp(frame))
                return false;
        }
    } else if (!m_swr) {
        return true;
    }
    const int inFrames = frame ? frame->nb_samples : 0;
    const int room = swr_get_out_samples(m_swr, inFrames);
    if (room < 0)
        return false;
    const size_t start = out.size();
    out.resize(start + size_t(room) * size_t(m_outChannels));
    uint8_t *dst = reinterpret_cast<uint8_t *>(out.data() + start);
    const int got = swr_convert(m_swr, &dst, room, frame ? const_cast<const uint8_t **>(frame->extended_data) : nullptr,
                                inFrames);
    if (got < 0) {
        out.resize(start);
        return false;
    }
    out.resize(start + size_t(got) * size_t(m_outChannels));
    return true;
}
