#include "platform/media/adtsframecounter.h"

#include "platform/media/mediafilewindow.h"

#include <QtGlobal>

namespace {
constexpr int SampleRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                 22050, 16000, 12000, 11025, 8000, 7350};
constexpr qint64 ResyncLimit = 64 * 1024;

struct Frame {
    int bytes = 0;
    int samples = 0;
    int sampleRate = 0;
};

std::optional<Frame> parse(const uchar *p)
{
    if (p[0] != 0xFF || (p[1] & 0xF6) != 0xF0) // sync, layer 0
        return std::nullopt;
    const int rateIndex = (p[2] >> 2) & 0x0F;
    if (rateIndex >= 13)
        return std::nullopt;
    Frame f;
    f.bytes = ((p[3] & 0x03) << 11) | (p[4] << 3) | (p[5] >> 5);
    const bool crc = !(p[1] & 0x01);
    if (f.bytes < (crc ? 9 : 7))
        return std::nullopt;
    f.samples = ((p[6] & 0x03) + 1) * 1024;
    f.sampleRate = SampleRates[rateIndex];
    return f;
}
} // namespace

bool AdtsFrameCounter::startsWithAdts(MediaFileWindow &window)
{
    return window.startsWithChainedFrames(7, parse);
}

std::optional<double> AdtsFrameCounter::exactLengthMs(MediaFileWindow &window)
{
    window.beginWalk();
    const qint64 end = window.audioEnd();
    qint64 pos = window.skipId3v2(0);
    qint64 samples = 0;
    int rate = 0;
    bool synced = false;
    while (pos + 7 <= end) {
        const uchar *p = window.at(pos, 7);
        const auto f = p ? parse(p) : std::nullopt;
        bool good = f && pos + f->bytes <= end && (rate == 0 || f->sampleRate == rate);
        if (good && !synced) {
            // Off sync, accept a header only if another one follows it (or the stream ends).
            const qint64 next = pos + f->bytes;
            const uchar *q = next + 7 <= end ? window.at(next, 7) : nullptr;
            const auto g = q ? parse(q) : std::nullopt;
            good = next == end || (g && g->sampleRate == f->sampleRate);
        }
        if (good) {
            synced = true;
            rate = f->sampleRate;
            samples += f->samples;
            pos += f->bytes;
            continue;
        }
        if (synced) {
            synced = false;
            ++pos;
            continue;
        }
        // Scan forward for the next candidate, giving up after a long stretch of garbage.
        const qint64 limit = qMin(end - 7, pos + ResyncLimit);
        ++pos;
        while (pos <= limit) {
            const uchar *q = window.at(pos, 2);
            if (!q || (q[0] == 0xFF && (q[1] & 0xF6) == 0xF0))
                break;
            ++pos;
        }
        if (pos > limit)
            break;
    }
    if (rate == 0 || samples == 0)
        return std::nullopt;
    return double(samples) * 1000.0 / rate;
}
