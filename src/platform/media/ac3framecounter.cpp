#include "platform/media/ac3framecounter.h"

#include "platform/media/mediafilewindow.h"

namespace {
constexpr int HeaderBytes = 6;
// How much of a frame cut off by the end of the file a decoder needs to play it whole.
constexpr qint64 DecodableBytes = 7;
constexpr qint64 ResyncLimit = 64 * 1024;
constexpr int SamplesPerBlock = 256;

// Frame sizes in 16-bit words by frame size code, for 48, 44.1 and 32 kHz. At 44.1 kHz a frame
// cannot hold a whole number of words at the nominal bitrate, so each odd code is one word
// longer than its even twin and encoders alternate them.
constexpr int FrameWords[38][3] = {
    {64, 69, 96},       {64, 70, 96},       {80, 87, 120},      {80, 88, 120},
    {96, 104, 144},     {96, 105, 144},     {112, 121, 168},    {112, 122, 168},
    {128, 139, 192},    {128, 140, 192},    {160, 174, 240},    {160, 175, 240},
    {192, 208, 288},    {192, 209, 288},    {224, 243, 336},    {224, 244, 336},
    {256, 278, 384},    {256, 279, 384},    {320, 348, 480},    {320, 349, 480},
    {384, 417, 576},    {384, 418, 576},    {448, 487, 672},    {448, 488, 672},
    {512, 557, 768},    {512, 558, 768},    {640, 696, 960},    {640, 697, 960},
    {768, 835, 1152},   {768, 836, 1152},   {896, 975, 1344},   {896, 976, 1344},
    {1024, 1114, 1536}, {1024, 1115, 1536}, {1152, 1253, 1728}, {1152, 1254, 1728},
    {1280, 1393, 1920}, {1280, 1394, 1920},
};
constexpr int SampleRates[3] = {48000, 44100, 32000};
constexpr int EnhancedBlocks[4] = {1, 2, 3, 6};

bool syncAt(const uchar *p) { return p[0] == 0x0B && p[1] == 0x77; }
} // namespace

std::optional<Ac3FrameCounter::Frame> Ac3FrameCounter::parseHeader(const uchar *p)
{
    if (!syncAt(p))
        return std::nullopt;
    // The stream version sits at the same place in both kinds of header.
    const int bsid = p[5] >> 3;
    const int fscod = p[4] >> 6;
    Frame f;
    if (bsid <= 10) {
        const int frmsizecod = p[4] & 0x3F;
        if (fscod == 3 || frmsizecod >= 38)
            return std::nullopt;
        f.bytes = FrameWords[frmsizecod][fscod] * 2;
        f.samples = 6 * SamplesPerBlock;
        // Versions 9 and 10 are the half- and quarter-rate variants: same frames, lower rate.
        f.sampleRate = SampleRates[fscod] >> qMax(0, bsid - 8);
        return f;
    }
    if (bsid > 16)
        return std::nullopt;
    // Enhanced AC-3: the frame states its own size and block count.
    const int strmtyp = p[2] >> 6;
    const int substreamid = (p[2] >> 3) & 7;
    if (strmtyp == 3)
        return std::nullopt;
    f.bytes = ((((p[2] & 7) << 8) | p[3]) + 1) * 2;
    const int numblkscod = (p[4] >> 4) & 3;
    int blocks = 6;
    if (fscod == 3) {
        if (numblkscod == 3)
            return std::nullopt;
        f.sampleRate = SampleRates[numblkscod] / 2; // the reduced rates: 24, 22.05, 16 kHz
    } else {
        f.sampleRate = SampleRates[fscod];
        blocks = EnhancedBlocks[numblkscod];
    }
    if (f.bytes < HeaderBytes)
        return std::nullopt;
    // Dependent substreams and further programmes travel alongside the first independent
    // substream and play at the same time, so only that one adds length.
    const bool timed = strmtyp != 1 && substreamid == 0;
    f.samples = timed ? blocks * SamplesPerBlock : 0;
    return f;
}

bool Ac3FrameCounter::startsWithAc3(MediaFileWindow &window)
{
    return window.startsWithChainedFrames(HeaderBytes, &Ac3FrameCounter::parseHeader);
}

std::optional<double> Ac3FrameCounter::exactLengthMs(MediaFileWindow &window)
{
    window.beginWalk();
    const qint64 end = window.audioEnd();
    qint64 pos = window.skipId3v2(0);
    qint64 samples = 0;
    int rate = 0;
    bool synced = false;
    qint64 cutLastFrame = 0;
    while (pos + HeaderBytes <= end) {
        const uchar *p = window.at(pos, HeaderBytes);
        const auto f = p ? parseHeader(p) : std::nullopt;
        bool good = f && pos + f->bytes <= end && (rate == 0 || f->sampleRate == rate);
        if (good && !synced) {
            // Off sync, 0x0B77 turns up by chance in damaged data: accept a header only if
            // another one follows it (or the stream ends there).
            const qint64 next = pos + f->bytes;
            const uchar *q = next + HeaderBytes <= end ? window.at(next, HeaderBytes) : nullptr;
            const auto g = q ? parseHeader(q) : std::nullopt;
            good = next == end || (g && g->sampleRate == f->sampleRate);
        }
        if (good) {
            cutLastFrame = 0;
            synced = true;
            rate = f->sampleRate;
            samples += f->samples;
            pos += f->bytes;
            continue;
        }
        if (synced && f && f->sampleRate == rate && pos + f->bytes > end && end - pos >= DecodableBytes) {
            // The last frame of a cut file still plays: decoders conceal the part that is
            // missing once they have its whole header. It counts unless a good frame turns up
            // after it (then it was damage).
            cutLastFrame = f->samples;
        }
        synced = false;
        // Scan forward for the next sync word, giving up after a long stretch of garbage.
        const qint64 limit = qMin(end - HeaderBytes, pos + ResyncLimit);
        ++pos;
        while (pos <= limit) {
            const uchar *q = window.at(pos, 2);
            if (!q)
                return std::nullopt; // the file shrank under us
            if (syncAt(q))
                break;
            ++pos;
        }
        if (pos > limit)
            break;
    }
    samples += cutLastFrame;
    if (rate == 0 || samples == 0)
        return std::nullopt;
    return double(samples) * 1000.0 / rate;
}
