#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <optional>
#include <vector>

// The frames of an MPEG audio Layer III stream as they lie in a file: where
// each starts, how long it is and where its side information keeps the fields
// that can be changed without decoding (the granules' global gain, where the
// frame's data begins in the bit reservoir).
namespace Mp3Frames {

struct Header {
    int size = 0;            // the whole frame, header included
    int sideInfoBytes = 0;
    bool mpeg1 = true;
    bool crc = false;
    int channels = 2;
    int sampleRate = 0;
    quint32 fixedBits = 0;   // what every frame of one stream shares

    [[nodiscard]] int granules() const { return mpeg1 ? 2 : 1; }
    [[nodiscard]] int samples() const { return 576 * granules(); }
    [[nodiscard]] int sideInfoAt() const { return 4 + (crc ? 2 : 0); }
    // The bytes after the side information: this frame's share of the reservoir.
    [[nodiscard]] int dataBytes() const { return size - sideInfoAt() - sideInfoBytes; }
};

struct Frame {
    qsizetype at = 0;
    Header header;
};

struct Stream {
    std::vector<Frame> frames;        // the audio frames, in order
    std::optional<Frame> tagFrame;    // the encoder's header frame (Xing, Info, VBRI), when first
    qsizetype end = 0;                // where the last frame ends
    bool gaps = false;                // bytes that are no frame lie between frames
};

[[nodiscard]] std::optional<Header> parse(const uchar *p);
// The stream after any ID3v2 tags; nothing when no frame is found at all.
[[nodiscard]] std::optional<Stream> walk(const QByteArray &bytes);
// Whether a frame is the encoder's header frame, which holds no audio.
[[nodiscard]] bool isTagFrame(const uchar *frame, const Header &h);

[[nodiscard]] int readBits(const uchar *p, int bit, int count);
void writeBits(uchar *p, int bit, int count, int value);

// The bit of a granule's global gain within the side information (granules
// first, then channels, as they are stored).
[[nodiscard]] int globalGainBit(const Header &h, int granule, int channel);
// How many bytes before this frame its data begins.
[[nodiscard]] int mainDataBegin(const uchar *frame, const Header &h);
// Recomputes the frame's checksum, when it has one, after its side information changed.
void updateCrc(uchar *frame, const Header &h);

} // namespace Mp3Frames
