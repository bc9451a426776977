#include "platform/audio/mp3frames.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace Mp3Frames {

namespace {

constexpr std::array<int, 16> Mpeg1Kbps{ 0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0 };
constexpr std::array<int, 16> Mpeg2Kbps{ 0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0 };
constexpr std::array<int, 3> Mpeg1Rates{ 44100, 48000, 32000 };

} // namespace

std::optional<Header> parse(const uchar *p)
{
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return std::nullopt;
    const int version = (p[1] >> 3) & 3;   // 0: 2.5, 2: 2, 3: 1
    const int layer = (p[1] >> 1) & 3;     // 1: Layer III
    const int bitrateIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    if (version == 1 || layer != 1 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return std::nullopt;
    Header h;
    h.mpeg1 = version == 3;
    h.crc = (p[1] & 1) == 0;
    h.channels = (p[3] >> 6) == 3 ? 1 : 2;
    const int rate = Mpeg1Rates[rateIndex] >> (h.mpeg1 ? 0 : version == 2 ? 1 : 2);
    h.sampleRate = rate;
    const int kbps = (h.mpeg1 ? Mpeg1Kbps : Mpeg2Kbps)[bitrateIndex];
    h.size = (h.mpeg1 ? 144 : 72) * kbps * 1000 / rate + ((p[2] >> 1) & 1);
    h.sideInfoBytes = h.mpeg1 ? (h.channels == 1 ? 17 : 32) : (h.channels == 1 ? 9 : 17);
    // Version, layer, protection, sample rate and mono or not stay the same
    // from frame to frame; a chance match inside other data rarely does.
    h.fixedBits = (quint32(p[1]) << 8 | (p[2] & 0x0C)) << 8 | ((p[3] >> 6) == 3);
    return h;
}

namespace {

// A frame header at `at` whose follower is where its size says (or the end).
std::optional<Header> frameAt(const QByteArray &bytes, qsizetype at)
{
    const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
    if (at + 4 > bytes.size())
        return std::nullopt;
    const std::optional<Header> h = parse(data + at);
    if (!h || at + h->size > bytes.size())
        return std::nullopt;
    const qsizetype next = at + h->size;
    if (next + 4 > bytes.size())
        return h;
    const std::optional<Header> following = parse(data + next);
    if (following && following->fixedBits == h->fixedBits)
        return h;
    // The last frame before a tag at the end.
    if (std::memcmp(data + next, "TAG", 3) == 0 || std::memcmp(data + next, "APET", 4) == 0
        || std::memcmp(data + next, "LYRI", 4) == 0)
        return h;
    return std::nullopt;
}

qsizetype afterId3v2(const QByteArray &bytes)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.constData());
    qsizetype at = 0;
    // Some files carry more than one tag in front.
    while (at + 10 <= bytes.size() && std::memcmp(p + at, "ID3", 3) == 0) {
        const qsizetype size = qsizetype(p[at + 6] & 0x7F) << 21 | qsizetype(p[at + 7] & 0x7F) << 14
                               | qsizetype(p[at + 8] & 0x7F) << 7 | qsizetype(p[at + 9] & 0x7F);
        at += 10 + size + ((p[at + 5] & 0x10) ? 10 : 0);
    }
    return std::min(at, bytes.size());
}

} // namespace

// The encoder's header frame (Xing, Info, VBRI) holds no audio: it stays as it is.
bool isTagFrame(const uchar *frame, const Header &h)
{
    // Encoders put the tag right after the side information, counting the
    // checksum or not; decoders look where no checksum is counted.
    for (const int side : { 4 + h.sideInfoBytes, 6 + h.sideInfoBytes })
        if (h.size >= side + 4 && (std::memcmp(frame + side, "Xing", 4) == 0 || std::memcmp(frame + side, "Info", 4) == 0))
            return true;
    return h.size >= 36 + 4 && std::memcmp(frame + 36, "VBRI", 4) == 0;
}

int readBits(const uchar *p, int bit, int count)
{
    int value = 0;
    for (int i = 0; i < count; ++i, ++bit)
        value = value << 1 | ((p[bit >> 3] >> (7 - (bit & 7))) & 1);
    return value;
}

void writeBits(uchar *p, int bit, int count, int value)
{
    for (int i = count - 1; i >= 0; --i, ++bit) {
        const uchar mask = uchar(0x80 >> (bit & 7));
        p[bit >> 3] = ((value >> i) & 1) ? (p[bit >> 3] | mask) : (p[bit >> 3] & ~mask);
    }
}

namespace {

// CRC-16 (polynomial 0x8005, starting at all ones) over the header's last two
// bytes and the side information, as the decoder checks it.
quint16 frameCrc(const uchar *frame, const Header &h)
{
    quint16 crc = 0xFFFF;
    const auto feed = [&crc](uchar byte) {
        for (int i = 7; i >= 0; --i) {
            const bool top = (crc >> 15) ^ ((byte >> i) & 1);
            crc = quint16(crc << 1);
            if (top)
                crc ^= 0x8005;
        }
    };
    feed(frame[2]);
    feed(frame[3]);
    for (int i = 0; i < h.sideInfoBytes; ++i)
        feed(frame[6 + i]);
    return crc;
}

} // namespace

void updateCrc(uchar *frame, const Header &h)
{
    if (!h.crc)
        return;
    const quint16 crc = frameCrc(frame, h);
    frame[4] = uchar(crc >> 8);
    frame[5] = uchar(crc & 0xFF);
}

int globalGainBit(const Header &h, int granule, int channel)
{
    // Fields before the first granule: where the frame's data begins, private
    // bits, and (MPEG-1) the scale factors' reuse flags. Each granule's length
    // and big values come before its gain.
    const int start = h.mpeg1 ? 9 + (h.channels == 1 ? 5 : 3) + 4 * h.channels : 8 + h.channels;
    const int granuleBits = h.mpeg1 ? 59 : 63;
    return start + (granule * h.channels + channel) * granuleBits + 12 + 9;
}

int mainDataBegin(const uchar *frame, const Header &h)
{
    return readBits(frame + h.sideInfoAt(), 0, h.mpeg1 ? 9 : 8);
}

std::optional<Stream> walk(const QByteArray &bytes)
{
    Stream stream;
    qsizetype at = afterId3v2(bytes);
    const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
    std::optional<quint32> fixed;
    bool first = true;
    bool skipped = false;
    while (at + 4 <= bytes.size()) {
        std::optional<Header> h = frameAt(bytes, at);
        if (!h || (fixed && h->fixedBits != *fixed)) {
            // Not a frame here: damage or a tag between frames. The walk
            // resumes at the next place where two frames follow each other.
            if (std::memcmp(data + at, "TAG", 3) == 0 && bytes.size() - at == 128)
                break;
            skipped = !first;
            ++at;
            continue;
        }
        // Bytes that are no frame between two frames; those after the last
        // frame are its tags.
        stream.gaps = stream.gaps || skipped;
        skipped = false;
        if (!fixed)
            fixed = h->fixedBits;
        if (first && isTagFrame(data + at, *h))
            stream.tagFrame = Frame{ at, *h };
        else
            stream.frames.push_back({ at, *h });
        first = false;
        at += h->size;
        stream.end = at;
    }
    if (stream.frames.empty())
        return std::nullopt;
    return stream;
}

} // namespace Mp3Frames
