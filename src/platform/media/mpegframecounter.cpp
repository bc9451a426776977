#include "platform/media/mpegframecounter.h"

#include "platform/media/mediafilewindow.h"

#include <bit>
#include <cstring>
#include <limits>

namespace {
constexpr int Bitrates[5][16] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0}, // V1 L1
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},    // V1 L2
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},     // V1 L3
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},    // V2 L1
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},         // V2 L2/L3
};
constexpr int SampleRates[3] = {44100, 48000, 32000};

// How far to look for the next frame after damage before giving up on the rest of the stream.
constexpr qint64 ResyncLimit = 64 * 1024;
constexpr qint64 ConstantCheckFrames = 200;
constexpr qint64 MiddleWindowFrames = 50;
// The header bits that stay the same in every frame of one stream: the sync, the version,
// the layer and the sample rate. Those between them (protection, bitrate) and the padding
// bit after them may change.
constexpr quint32 StreamBits = 0xFFFE0C00u;
// The bits, from the padding bit up to the bitrate, that size a frame of a known stream.
constexpr int SizeShift = 9;
constexpr quint32 SizeBits = 0x7Fu;

quint32 be32(const uchar *p) { return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3]; }

bool sameStream(const MpegFrameCounter::Header &a, const MpegFrameCounter::Header &b)
{
    return a.version == b.version && a.layer == b.layer && a.sampleRate == b.sampleRate;
}
} // namespace

MpegFrameCounter::MpegFrameCounter(MediaFileWindow &window) : m_window(window)
{
    m_start = m_window.skipId3v2(0);
    m_end = m_window.audioEnd();
}

std::optional<MpegFrameCounter::Header> MpegFrameCounter::parseHeader(quint32 word)
{
    if ((word & 0xFFE00000u) != 0xFFE00000u)
        return std::nullopt;
    const int versionBits = (word >> 19) & 3;
    const int layerBits = (word >> 17) & 3;
    const int bitrateIndex = (word >> 12) & 15;
    const int rateIndex = (word >> 10) & 3;
    if (versionBits == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return std::nullopt; // reserved values, or free format whose frames cannot be sized
    Header h;
    h.version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 25;
    h.layer = 4 - layerBits;
    const int table = h.version == 1 ? h.layer - 1 : (h.layer == 1 ? 3 : 4);
    h.bitrateKbps = Bitrates[table][bitrateIndex];
    h.sampleRate = SampleRates[rateIndex] / (h.version == 1 ? 1 : h.version == 2 ? 2 : 4);
    const int padding = (word >> 9) & 1;
    h.mono = ((word >> 6) & 3) == 3;
    const int bps = h.bitrateKbps * 1000;
    if (h.layer == 1) {
        h.samples = 384;
        h.frameBytes = (12 * bps / h.sampleRate + padding) * 4;
    } else if (h.layer == 2 || h.version == 1) {
        h.samples = 1152;
        h.frameBytes = 144 * bps / h.sampleRate + padding;
    } else {
        h.samples = 576;
        h.frameBytes = 72 * bps / h.sampleRate + padding;
    }
    return h;
}

std::optional<MpegFrameCounter::Header> MpegFrameCounter::headerAt(qint64 offset)
{
    if (offset + 4 > m_end)
        return std::nullopt;
    const uchar *p = m_window.at(offset, 4);
    return p ? parseHeader(be32(p)) : std::nullopt;
}

qint64 MpegFrameCounter::findSync(qint64 from, qint64 limit)
{
    // A candidate counts only when the frame after it starts a header of the same stream (or
    // the audio ends right there): a lone 0xFFE pattern in damaged data is common.
    const qint64 stop = qMin(m_end - 4, from + limit);
    for (qint64 pos = from; pos <= stop; ++pos) {
        const uchar *p = m_window.at(pos, 2);
        if (!p)
            return -1;
        if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
            continue;
        const auto h = headerAt(pos);
        if (!h)
            continue;
        const qint64 next = pos + h->frameBytes;
        if (next == m_end)
            return pos;
        const auto n = headerAt(next);
        if (n && sameStream(*h, *n))
            return pos;
    }
    return -1;
}

std::optional<MpegFrameCounter::Header> MpegFrameCounter::chainedStart()
{
    qint64 pos = m_start;
    std::optional<Header> first;
    for (int frames = 0; frames < 3; ++frames) {
        if (frames > 0 && pos == m_end)
            break;
        const auto h = headerAt(pos);
        if (!h || pos + h->frameBytes > m_end || (first && !sameStream(*first, *h)))
            return std::nullopt;
        if (!first)
            first = h;
        pos += h->frameBytes;
    }
    return first;
}

std::optional<MpegFrameCounter::InfoFrame> MpegFrameCounter::infoFrame()
{
    const qint64 first = findSync(m_start, ResyncLimit);
    if (first < 0)
        return std::nullopt;
    const auto h = headerAt(first);
    if (!h || h->layer != 3)
        return std::nullopt;
    const int sideInfo = h->version == 1 ? (h->mono ? 17 : 32) : (h->mono ? 9 : 17);
    const uchar *frame = m_window.at(first, h->frameBytes);
    if (!frame)
        return std::nullopt;
    InfoFrame info;
    info.offset = first;
    const int xing = 4 + sideInfo;
    if (xing + 8 <= h->frameBytes && (std::memcmp(frame + xing, "Xing", 4) == 0 || std::memcmp(frame + xing, "Info", 4) == 0)) {
        const quint32 flags = be32(frame + xing + 4);
        int pos = xing + 8;
        auto field = [&](quint32 bit, int size) -> qint64 {
            if (!(flags & bit) || pos + size > h->frameBytes)
                return 0;
            const qint64 v = size == 4 ? qint64(be32(frame + pos)) : 0;
            pos += size;
            return v;
        };
        info.frames = field(1, 4);
        info.bytes = field(2, 4);
        (void)field(4, 100);
        (void)field(8, 4);
        // The LAME extension: encoder name, then 12 bits of delay and 12 of padding at +21.
        if (pos + 24 <= h->frameBytes
            && (std::memcmp(frame + pos, "LAME", 4) == 0 || std::memcmp(frame + pos, "Lavf", 4) == 0
                || std::memcmp(frame + pos, "Lavc", 4) == 0)) {
            const uchar *d = frame + pos + 21;
            info.encoderDelay = (d[0] << 4) | (d[1] >> 4);
            info.encoderPadding = ((d[1] & 0x0F) << 8) | d[2];
            info.hasGapless = true;
        }
        return info;
    }
    if (36 + 26 <= h->frameBytes && std::memcmp(frame + 36, "VBRI", 4) == 0) {
        info.bytes = be32(frame + 36 + 10);
        info.frames = be32(frame + 36 + 14);
        return info;
    }
    return std::nullopt;
}

MpegFrameCounter::Count MpegFrameCounter::walk(qint64 from, qint64 maxFrames)
{
    Count c;
    qint64 pos = findSync(from, ResyncLimit);
    if (pos < 0)
        return c;
    const auto lock = headerAt(pos);
    c.firstFrame = pos;
    c.firstFrameBytes = lock->frameBytes;
    c.sampleRate = lock->sampleRate;
    // Within one stream only the bitrate, the padding (and the bits between) change from frame
    // to frame, so the size of every frame of the stream the walk locked on is one look-up by
    // those bits; the rest of the word must match the first frame's. Frames that do not (a
    // tag, damage, the cut end) take the careful path below.
    const quint32 lockWord = be32(m_window.at(pos, 4));
    const quint32 lockKey = lockWord & StreamBits;
    int sizes[SizeBits + 1] = {};
    for (quint32 i = 0; i <= SizeBits; ++i) {
        const auto h = parseHeader((lockWord & ~(SizeBits << SizeShift)) | i << SizeShift);
        sizes[i] = h && sameStream(*h, *lock) ? h->frameBytes : 0;
    }
    // One bit per bitrate index: within a stream an index names one bitrate.
    quint32 bitrates = 0;
    quint32 lastWord = 0;
    std::optional<Header> last;
    while (c.frames < maxFrames) {
        if (pos + 4 > m_end) {
            c.reachedEnd = true;
            break;
        }
        qint64 held = 0;
        if (const uchar *run = m_window.held(pos, &held)) {
            const qint64 usable = qMin(held, m_end - pos);
            qint64 offset = 0;
            while (offset + 4 <= usable && c.frames < maxFrames) {
                const quint32 word = be32(run + offset);
                const int bytes = (word & StreamBits) == lockKey ? sizes[(word >> SizeShift) & SizeBits] : 0;
                if (bytes == 0 || pos + offset + bytes > m_end)
                    break;
                c.frames += 1;
                c.samples += lock->samples;
                bitrates |= 1u << ((word >> 12) & 15);
                offset += bytes;
            }
            pos += offset;
            if (offset > 0)
                continue;
        }
        const uchar *p = m_window.at(pos, 4);
        // A tag in the middle of the stream (joined files) starts with "I".
        if (p && p[0] == 'I') {
            if (const qint64 tag = m_window.id3v2SizeAt(pos); tag > 0) {
                pos += tag;
                continue;
            }
            p = m_window.at(pos, 4); // the look at the tag may have moved the window
        }
        if (p && (be32(p) != lastWord || !last)) {
            lastWord = be32(p);
            last = parseHeader(lastWord);
        }
        const std::optional<Header> h = p ? last : std::nullopt;
        // A last frame cut short by the end of the file still plays: decoders conceal the part
        // that is missing once they have its header. Unless a good frame follows it (then it
        // was damage).
        if (h && sameStream(*h, *lock)
            && (pos + h->frameBytes <= m_end || findSync(pos + 1, m_end - pos) < 0)) {
            c.frames += 1;
            c.samples += h->samples;
            bitrates |= 1u << ((lastWord >> 12) & 15);
            pos += h->frameBytes;
            continue;
        }
        // Damage: look for the next good frame.
        const qint64 next = findSync(pos + 1, ResyncLimit);
        if (next < 0) {
            c.reachedEnd = true;
            break;
        }
        pos = next;
    }
    c.distinctBitrates = std::popcount(bitrates);
    return c;
}

bool MpegFrameCounter::looksConstantBitrate()
{
    const Count head = walk(m_start, ConstantCheckFrames);
    if (head.distinctBitrates > 1)
        return false;
    if (head.reachedEnd)
        return true;
    const Count middle = walk(m_start + (m_end - m_start) / 2, MiddleWindowFrames);
    if (middle.distinctBitrates > 1)
        return false;
    const auto a = headerAt(head.firstFrame);
    const auto b = middle.firstFrame >= 0 ? headerAt(middle.firstFrame) : std::nullopt;
    return !b || (a && a->bitrateKbps == b->bitrateKbps);
}

std::optional<double> MpegFrameCounter::exactLengthMs()
{
    const auto info = infoFrame();
    // The Xing/Info/VBRI frame carries no audio; decoders skip it, so the count must too.
    const qint64 from = info ? info->offset + qMax<qint64>(1, headerAt(info->offset)->frameBytes) : m_start;
    m_window.beginWalk();
    const Count c = walk(from, std::numeric_limits<qint64>::max());
    if (c.frames == 0 || c.sampleRate <= 0)
        return std::nullopt;
    qint64 samples = c.samples;
    if (info && info->hasGapless)
        samples = qMax<qint64>(0, samples - info->encoderDelay - info->encoderPadding);
    return double(samples) * 1000.0 / c.sampleRate;
}
