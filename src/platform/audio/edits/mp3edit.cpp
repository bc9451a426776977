#include "platform/audio/edits/mp3edit.h"

#include "model/exportformat.h"
#include "platform/audio/mp3frames.h"
#include "platform/storage/systemreason.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

using namespace Qt::StringLiterals;

namespace {

// The decoder's own delay: a sample the encoder was given comes out this many
// samples after the encoder delay the LAME tag declares. Gapless decoders
// count it in when they trim.
constexpr int DecoderDelay = 529;
constexpr int GranuleSamples = 576;
// The LAME tag keeps delay and padding in 12 bits each.
constexpr int MaxPad = 4095;
// Granules decoded in full before the first sample kept: one for the overlap
// of the transform, one for the synthesis filter's memory of it.
constexpr int LeadGranules = 2;
constexpr double StepDb = 1.5051499783; // 20 log10(2^(1/4))

quint32 be32(const uchar *p)
{
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
}

void putBe32(uchar *p, quint32 v)
{
    p[0] = uchar(v >> 24), p[1] = uchar(v >> 16), p[2] = uchar(v >> 8), p[3] = uchar(v);
}

// The checksum of the LAME tag and of the music (CRC-16, polynomial 0x8005
// reflected, starting at 0).
quint16 lameCrc(const uchar *p, qsizetype n, quint16 crc = 0)
{
    for (qsizetype i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int b = 0; b < 8; ++b)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

// Where the fields of the encoder's header frame lie, as gapless decoders read
// them: the Xing or Info header right after the side information (no checksum
// counted), its optional fields as its flags say, then the LAME tag.
struct TagLayout {
    qsizetype flags = 0;          // offsets within the tag frame
    qsizetype frames = -1;
    qsizetype bytes = -1;
    qsizetype toc = -1;
    qsizetype lame = -1;
};

std::optional<TagLayout> tagLayout(const uchar *frame, const Mp3Frames::Header &h)
{
    qsizetype at = 4 + h.sideInfoBytes;
    if (h.size < at + 8 || (std::memcmp(frame + at, "Xing", 4) != 0 && std::memcmp(frame + at, "Info", 4) != 0))
        return std::nullopt;
    TagLayout t;
    t.flags = at + 4;
    const quint32 flags = be32(frame + t.flags);
    at += 8;
    if (flags & 1)
        t.frames = at, at += 4;
    if (flags & 2)
        t.bytes = at, at += 4;
    if (flags & 4)
        t.toc = at, at += 100;
    if (flags & 8)
        at += 4;
    // Decoders take delay and padding only from the encoders that write them.
    if (h.size < at + 36
        || (std::memcmp(frame + at, "LAME", 4) != 0 && std::memcmp(frame + at, "Lavf", 4) != 0
            && std::memcmp(frame + at, "Lavc", 4) != 0))
        return std::nullopt;
    t.lame = at;
    return t;
}

// A frame like `like` (same version, rate and channels) that decodes to
// silence: no granule reads any data and every gain is at its floor. Its data
// ends with `reservoir`, for the frame after it to begin its data in. Empty
// when even the largest frame has too little room.
QByteArray silentFrame(const uchar *like, const QByteArray &reservoir)
{
    uchar header[4] = { like[0], like[1], uchar((like[2] & 0x0C) | 0xE0), like[3] }; // the highest bit rate, no padding
    const std::optional<Mp3Frames::Header> h = Mp3Frames::parse(header);
    if (!h || h->dataBytes() < reservoir.size())
        return {};
    QByteArray frame(h->size, '\0');
    std::memcpy(frame.data(), header, 4);
    std::memcpy(frame.data() + h->size - reservoir.size(), reservoir.constData(), size_t(reservoir.size()));
    Mp3Frames::updateCrc(reinterpret_cast<uchar *>(frame.data()), *h);
    return frame;
}

} // namespace

Mp3Edit::Outcome Mp3Edit::write(const QString &source, const SongEdits &edits, int gainSteps, const QString &destination,
                                QString *reason)
{
    QFile in(source);
    QByteArray bytes;
    if (!in.open(QIODevice::ReadOnly) || (bytes = in.readAll(), in.error() != QFileDevice::NoError)) {
        if (reason)
            *reason = u"元の曲のファイルを読み込めません"_s;
        return Outcome::Failed;
    }
    const std::optional<QByteArray> edited = edit(bytes, edits, gainSteps);
    if (!edited)
        return Outcome::NotCuttable;
    QFile out(destination);
    errno = 0;
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(*edited) != edited->size() || !out.flush()) {
        if (reason)
            *reason = SystemReason::lastError(out.errorString());
        return Outcome::Failed;
    }
    return Outcome::Written;
}

bool Mp3Edit::keepsFrames(const QString &path, const SongEdits &edits)
{
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = in.readAll();
    const std::optional<Mp3Frames::Stream> stream = Mp3Frames::walk(bytes);
    if (!stream)
        return false;
    const qint64 songMs = qint64(stream->frames.size()) * stream->frames.front().header.samples() * 1000
                          / stream->frames.front().header.sampleRate;
    return ExportFormat::mp3EditStaysLossless(edits, songMs) && edit(bytes, edits, 0).has_value();
}

std::optional<QByteArray> Mp3Edit::edit(const QByteArray &bytes, const SongEdits &edits, int gainSteps)
{
    using namespace Mp3Frames;
    const std::optional<Stream> stream = walk(bytes);
    if (!stream || stream->gaps || !stream->tagFrame)
        return std::nullopt;
    const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
    const Frame tag = *stream->tagFrame;
    const std::optional<TagLayout> layout = tagLayout(data + tag.at, tag.header);
    if (!layout)
        return std::nullopt;
    const std::vector<Frame> &frames = stream->frames;
    const qint64 count = qint64(frames.size());
    // A header that counts its frames otherwise than they lie would put the end elsewhere.
    if (layout->frames >= 0 && be32(data + tag.at + layout->frames) != quint32(count))
        return std::nullopt;
    const Header &h = frames.front().header;
    const int spf = h.samples();
    const quint32 pads = be32(data + tag.at + layout->lame + 20) & 0xFFFFFF;
    const qint64 delay = pads >> 12;
    const qint64 songFrames = count * spf - delay - (pads & 0xFFF);
    if (songFrames <= 0)
        return std::nullopt;

    const EditPlan plan(edits, songFrames, h.sampleRate);
    if (plan.kept().size() != 1 || plan.semitones() != 0 || plan.tempo() != 1.0)
        return std::nullopt;
    const qint64 first = plan.kept().front().from, last = plan.kept().front().to;
    // Song samples to the decoder's output, counted from the first audio frame.
    const qint64 shift = delay + DecoderDelay;
    const qint64 firstGranule = std::max<qint64>(0, (first + shift) / GranuleSamples - LeadGranules);
    const qint64 fromFrame = firstGranule / h.granules();
    const qint64 toFrame = std::min(count - 1, (last + shift - 1) / GranuleSamples / h.granules());
    // The first frame decoded in full may begin its data in the frames before
    // it (the bit reservoir). Those bytes go into one silent frame put before
    // it: however many frames they came from, the encoder delay that covers
    // the lead stays within what the LAME tag can say.
    QByteArray lead;
    if (fromFrame > 0) {
        const int need = mainDataBegin(data + frames[size_t(fromFrame)].at, h);
        QByteArray reservoir;
        for (qint64 k = fromFrame - 1; k >= 0 && reservoir.size() < need; --k) {
            const Header &kh = frames[size_t(k)].header;
            reservoir.prepend(bytes.mid(frames[size_t(k)].at + kh.sideInfoAt() + kh.sideInfoBytes, kh.dataBytes()));
        }
        lead = silentFrame(data + frames[size_t(fromFrame)].at, reservoir.right(need));
        if (lead.isEmpty())
            return std::nullopt;
    }
    const qint64 firstKept = fromFrame - (lead.isEmpty() ? 0 : 1); // counting the silent frame
    const qint64 newDelay = first + shift - firstKept * spf - DecoderDelay;
    const qint64 keptFrames = toFrame - firstKept + 1;
    const qint64 newPadding = keptFrames * spf - newDelay - (last - first);
    if (newDelay < 0 || newDelay > MaxPad || newPadding < 0 || newPadding > MaxPad)
        return std::nullopt;

    const qsizetype audioFrom = frames[size_t(fromFrame)].at;
    const qsizetype audioTo = frames[size_t(toFrame)].at + frames[size_t(toFrame)].header.size;
    const qsizetype tagEnd = tag.at + tag.header.size;
    QByteArray out = bytes.left(tagEnd) + lead + bytes.mid(audioFrom, audioTo - audioFrom) + bytes.mid(stream->end);
    auto *o = reinterpret_cast<uchar *>(out.data());
    // Where a kept frame of the source lies in the edited stream.
    const auto placed = [&](qint64 k) { return frames[size_t(k)].at - audioFrom + tagEnd + lead.size(); };

    // The granules' gain: the fades in whole steps, the level.
    const qint64 joined = plan.joinedFrames();
    for (qint64 k = fromFrame; k <= toFrame; ++k) {
        uchar *frame = o + placed(k);
        const Header &fh = frames[size_t(k)].header;
        for (int g = 0; g < fh.granules(); ++g) {
            // A granule is heard most where its transform's window peaks: at
            // the end of its own block of the decoder's output.
            const qint64 heard = (k * fh.granules() + g + 1) * GranuleSamples - shift - first;
            const double fade = plan.fadeGain(std::clamp<qint64>(heard, 0, joined - 1));
            const int steps = fade <= 1e-6 ? -256 : int(std::lround(20 * std::log10(fade) / StepDb)) + gainSteps;
            for (int c = 0; c < fh.channels; ++c) {
                const int bit = globalGainBit(fh, g, c);
                uchar *side = frame + fh.sideInfoAt();
                writeBits(side, bit, 8, std::clamp(readBits(side, bit, 8) + steps, 0, 255));
            }
        }
        updateCrc(frame, fh);
    }

    // The header frame: the new count, size and seek table; the LAME tag's
    // delay and padding, music length and checksums.
    uchar *t = o + tag.at;
    const qsizetype tagSize = tag.header.size;
    const qsizetype audioBytes = lead.size() + audioTo - audioFrom;
    const qsizetype removed = (stream->end - frames.front().at) - audioBytes;
    if (layout->frames >= 0)
        putBe32(t + layout->frames, quint32(keptFrames));
    qint64 total = tagSize + audioBytes;
    if (layout->bytes >= 0) {
        total = qint64(be32(t + layout->bytes)) - removed;
        putBe32(t + layout->bytes, quint32(std::max<qint64>(total, 0)));
    }
    if (layout->toc >= 0 && total > 0) {
        for (int i = 0; i < 100; ++i) {
            const qint64 k = firstKept + std::min<qint64>(keptFrames - 1, keptFrames * i / 100);
            const qint64 position = k < fromFrame ? tagSize : placed(k) - tag.at;
            t[layout->toc + i] = uchar(std::min<qint64>(255, position * 256 / total));
        }
    }
    uchar *lame = t + layout->lame;
    lame[21] = uchar(newDelay >> 4);
    lame[22] = uchar((newDelay & 0xF) << 4 | newPadding >> 8);
    lame[23] = uchar(newPadding & 0xFF);
    if (const quint32 length = be32(lame + 28); length > 0)
        putBe32(lame + 28, quint32(std::max<qint64>(qint64(length) - removed, 0)));
    const quint16 music = lameCrc(o + tagEnd, audioBytes);
    lame[32] = uchar(music >> 8), lame[33] = uchar(music & 0xFF);
    const quint16 own = lameCrc(t, layout->lame + 34);
    lame[34] = uchar(own >> 8), lame[35] = uchar(own & 0xFF);
    return out;
}
