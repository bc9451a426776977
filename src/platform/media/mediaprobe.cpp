#include "platform/media/mediaprobe.h"

#include "platform/media/ac3framecounter.h"
#include "platform/media/adtsframecounter.h"
#include "platform/media/mediafilewindow.h"
#include "platform/media/mpegframecounter.h"
#include "platform/media/regularfile.h"
#include "platform/media/windowstream.h"

#include <QFile>

#include <taglib/fileref.h>
#include <taglib/mpegfile.h>
#include <taglib/mpegproperties.h>
#include <taglib/tfilestream.h>
#include <taglib/xingheader.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <string_view>
#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace {

int samplesPerFrame(const TagLib::MPEG::Properties &p)
{
    if (p.layer() == 1)
        return 384;
    if (p.layer() == 2 || p.version() == TagLib::MPEG::Header::Version1)
        return 1152;
    return 576;
}

std::optional<double> mpegLength(const TagLib::MPEG::File &file, MediaFileWindow &window, double tagLibMs)
{
    const auto *props = file.audioProperties();
    if (!props || props->sampleRate() <= 0)
        return std::nullopt;
    MpegFrameCounter counter(window);
    const TagLib::MPEG::XingHeader *xing = props->xingHeader();
    if (xing && xing->isValid() && xing->totalFrames() > 0) {
        const auto info = counter.infoFrame();
        // A header whose byte count is far from the audio actually present belongs to another
        // version of the file (truncated, or joined with another stream): count instead.
        const qint64 actual = counter.audioEnd() - (info ? info->offset : counter.audioStart());
        const qint64 claimed = xing->totalSize();
        if (claimed > 0 && actual > 0 && std::abs(double(claimed - actual)) > 0.02 * double(actual))
            return counter.exactLengthMs();
        qint64 samples = qint64(xing->totalFrames()) * samplesPerFrame(*props);
        if (info && info->hasGapless)
            samples = qMax<qint64>(0, samples - info->encoderDelay - info->encoderPadding);
        return double(samples) * 1000.0 / props->sampleRate();
    }
    // Without a VBR header the library extrapolates from the first frame's bitrate, which is
    // only right for a constant bitrate.
    if (!counter.looksConstantBitrate())
        return counter.exactLengthMs();
    return tagLibMs;
}

// The length of an MP3 that TagLib would only hand on to mpegLength, found without TagLib:
// the figure both give together, without TagLib reading the whole ID3v2 tag (cover art),
// searching the end of the file for other tags and scanning back for the last frame. Taken
// only where TagLib would look at the very same first frame: a file it opens as MPEG by its
// extension, at most one leading ID3v2 tag (TagLib skips one), and frames that chain right
// after it. Two cases qualify:
// - the first frame carries a Xing, Info or VBRI header where TagLib's search of the frame for
//   "Xing", then "Info", then "VBRI" finds it: the header's figure;
// - the first frame holds none of those words, so TagLib finds no header either, and the
//   bitrate varies: the frames are counted, as mpegLength counts them. A constant bitrate
//   takes TagLib's own figure, so it is left to TagLib.
std::optional<double> headedMpegLength(MediaFileWindow &window, const QByteArray &name)
{
    if (!name.toLower().endsWith(".mp3"))
        return std::nullopt;
    const qint64 tag = window.id3v2SizeAt(0);
    if (tag > 0 && window.id3v2SizeAt(tag) > 0)
        return std::nullopt;
    MpegFrameCounter counter(window);
    const auto first = counter.chainedStart();
    if (!first || first->layer != 3 || counter.audioStart() != tag)
        return std::nullopt;
    const uchar *frame = window.at(tag, first->frameBytes);
    if (!frame)
        return std::nullopt;
    const auto find = [&](const char *word) -> qint64 {
        // std::string_view rather than memmem, which not every C library has (MinGW's has not).
        const std::string_view bytes(reinterpret_cast<const char *>(frame), std::size_t(first->frameBytes));
        const std::size_t hit = bytes.find(std::string_view(word, 4));
        return hit == std::string_view::npos ? -1 : qint64(hit);
    };
    const auto info = counter.infoFrame();
    if (!info) {
        if (find("Xing") >= 0 || find("Info") >= 0 || find("VBRI") >= 0)
            return std::nullopt;
        // TagLib takes a frame as the first only when the next frame's header follows it
        // within the file; a stream of a single frame is left to it.
        const qint64 next = tag + first->frameBytes;
        const uchar *h = window.at(next, 4);
        const auto second = h && next + 4 <= counter.audioEnd()
            ? MpegFrameCounter::parseHeader(quint32(h[0]) << 24 | quint32(h[1]) << 16 | quint32(h[2]) << 8 | h[3])
            : std::nullopt;
        if (!second || second->version != first->version || second->layer != first->layer
            || second->sampleRate != first->sampleRate || counter.looksConstantBitrate())
            return std::nullopt;
        return counter.exactLengthMs();
    }
    if (info->offset != tag || info->frames <= 0 || info->bytes <= 0)
        return std::nullopt;
    const qint64 xingAt = 4 + (first->version == 1 ? (first->mono ? 17 : 32) : (first->mono ? 9 : 17));
    qint64 found = find("Xing");
    if (found < 0)
        found = find("Info");
    const bool sameHeader = found >= 0 ? found == xingAt : find("VBRI") == 36;
    if (!sameHeader)
        return std::nullopt;
    // A header whose byte count is far from the audio actually present belongs to another
    // version of the file: count instead, as mpegLength does.
    const qint64 actual = counter.audioEnd() - info->offset;
    if (actual > 0 && std::abs(double(info->bytes - actual)) > 0.02 * double(actual))
        return counter.exactLengthMs();
    qint64 samples = info->frames * first->samples;
    if (info->hasGapless)
        samples = qMax<qint64>(0, samples - info->encoderDelay - info->encoderPadding);
    return double(samples) * 1000.0 / first->sampleRate;
}

std::optional<double> tagLibLengthFrom(TagLib::IOStream &stream, MediaFileWindow &window, bool refine)
{
    TagLib::FileRef ref(&stream, true, TagLib::AudioProperties::Average);
    if (ref.isNull() || !ref.audioProperties())
        return std::nullopt;
    const double ms = ref.audioProperties()->lengthInMilliseconds();
    if (ms <= 0)
        return std::nullopt;
    if (refine) {
        if (const auto *mpeg = dynamic_cast<const TagLib::MPEG::File *>(ref.file()))
            return mpegLength(*mpeg, window, ms);
    }
    return ms;
}

std::optional<double> tagLibLength(MediaFileWindow &window, const QByteArray &name, bool refine, bool direct)
{
#ifndef Q_OS_WIN
    if (direct) {
        // TagLib's own stream: it reads and seeks the descriptor itself, in small steps.
        const int fd = ::dup(window.fd());
        if (fd < 0)
            return std::nullopt;
        TagLib::FileStream stream(fd, true); // owns the duplicate from here on
        if (!stream.isOpen())
            return std::nullopt;
        return tagLibLengthFrom(stream, window, refine);
    }
#else
    // TagLib on Windows reads no descriptor of the C runtime: the unbuffered method reads
    // through the window as well.
    Q_UNUSED(direct);
#endif
    WindowStream stream(window, name);
    return tagLibLengthFrom(stream, window, refine);
}

// libavformat reads through the window over the descriptor that was checked to be a regular
// file, never by reopening the path.
struct DescriptorIo {
    MediaFileWindow *window;
    qint64 pos;
    qint64 size;
};

int ioRead(void *opaque, uint8_t *buffer, int size)
{
    auto *io = static_cast<DescriptorIo *>(opaque);
    if (size <= 0)
        return 0;
    const qint64 got = io->window->read(io->pos, buffer, size);
    if (got <= 0)
        return AVERROR_EOF;
    io->pos += got;
    return int(got);
}

int64_t ioSeek(void *opaque, int64_t offset, int whence)
{
    auto *io = static_cast<DescriptorIo *>(opaque);
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE: return io->size;
    case SEEK_SET: io->pos = offset; break;
    case SEEK_CUR: io->pos += offset; break;
    case SEEK_END: io->pos = io->size + offset; break;
    default: return -1;
    }
    return io->pos;
}

std::optional<double> countPackets(AVFormatContext *ctx, int streamIndex, MediaFileWindow &window)
{
    window.beginWalk();
    AVStream *stream = ctx->streams[streamIndex];
    AVPacket *packet = av_packet_alloc();
    if (!packet)
        return std::nullopt;
    int64_t total = 0;
    bool complete = true;
    while (av_read_frame(ctx, packet) >= 0) {
        if (packet->stream_index == streamIndex) {
            if (packet->duration <= 0)
                complete = false;
            total += packet->duration;
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    if (!complete || total <= 0)
        return std::nullopt;
    return double(total) * av_q2d(stream->time_base) * 1000.0;
}

std::optional<double> libavLength(MediaFileWindow &window, const QByteArray &hint, bool refine)
{
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });

    constexpr int BufferSize = 64 * 1024;
    DescriptorIo io{&window, 0, window.fileSize()};
    auto *buffer = static_cast<unsigned char *>(av_malloc(BufferSize));
    if (!buffer)
        return std::nullopt;
    AVIOContext *avio = avio_alloc_context(buffer, BufferSize, 0, &io, ioRead, nullptr, ioSeek);
    if (!avio) {
        av_free(buffer);
        return std::nullopt;
    }
    AVFormatContext *ctx = avformat_alloc_context();
    std::optional<double> result;
    if (ctx) {
        ctx->pb = avio;
        ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
        // The name only serves as a format hint (the extension); nothing is opened by it.
        if (avformat_open_input(&ctx, hint.constData(), nullptr, nullptr) == 0) {
            if (avformat_find_stream_info(ctx, nullptr) >= 0) {
                const int index = av_find_best_stream(ctx, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
                if (index >= 0) {
                    if (refine && ctx->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE) {
                        // Estimated from the bitrate: count what is really there.
                        if (std::strcmp(ctx->iformat->name, "aac") == 0) {
                            result = AdtsFrameCounter::exactLengthMs(window);
                        } else if (avio_seek(ctx->pb, 0, SEEK_SET) >= 0
                                   && avformat_seek_file(ctx, index, INT64_MIN, 0, 0, AVSEEK_FLAG_BYTE) >= 0) {
                            result = countPackets(ctx, index, window);
                        }
                    }
                    if (!result) {
                        const AVStream *stream = ctx->streams[index];
                        if (ctx->duration != AV_NOPTS_VALUE && ctx->duration > 0)
                            result = double(ctx->duration) * 1000.0 / AV_TIME_BASE;
                        else if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
                            result = double(stream->duration) * av_q2d(stream->time_base) * 1000.0;
                    }
                }
            }
            avformat_close_input(&ctx);
        } else {
            // avformat_open_input frees the context on failure.
            ctx = nullptr;
        }
    }
    av_freep(&avio->buffer);
    avio_context_free(&avio);
    return result;
}

// Whether the audio after any leading ID3v2 tags begins with an MPEG layer I or II frame
// header. Runs for every file before TagLib; the bytes it looks at are in the window's head.
bool startsWithLayerOneOrTwo(MediaFileWindow &window)
{
    const uchar *head = nullptr;
    qint64 offset = 0;
    for (int tags = 0; tags < 4; ++tags) {
        head = window.at(offset, 10);
        if (!head)
            return false;
        if (std::memcmp(head, "ID3", 3) != 0)
            break;
        if ((head[6] | head[7] | head[8] | head[9]) & 0x80)
            return false;
        const qint64 body = qint64(head[6]) << 21 | qint64(head[7]) << 14 | qint64(head[8]) << 7 | head[9];
        offset += 10 + body + ((head[5] & 0x10) ? 10 : 0);
    }
    const quint32 word = quint32(head[0]) << 24 | quint32(head[1]) << 16 | quint32(head[2]) << 8 | head[3];
    const auto header = MpegFrameCounter::parseHeader(word);
    return header && header->layer != 3;
}

bool plausible(const std::optional<double> &ms)
{
    // Lengths are formatted through a 32-bit count of milliseconds; a corrupt header that
    // claims more is not a real song.
    return ms && std::isfinite(*ms) && *ms > 0 && *ms <= double(std::numeric_limits<qint32>::max());
}

} // namespace

std::optional<double> MediaProbe::lengthMs(const QString &path, Method method)
{
    const RegularFile source(path);
    if (!source.isOpen())
        return std::nullopt;
    return lengthMs(source.fd(), source.size(), path, method);
}

std::optional<double> MediaProbe::lengthMs(int fd, qint64 size, const QString &path, Method method)
{
    if (fd < 0 || size <= 0)
        return std::nullopt;
    const bool direct = method == Method::Unbuffered;
    if (direct)
        method = Method::Best;
    MediaFileWindow window(fd, size, !direct);
    const QByteArray name = QFile::encodeName(path);
    std::optional<double> ms;
    if (method == Method::Best && startsWithLayerOneOrTwo(window)) {
        // Layer I and II streams carry no VBR header and no encoder delay, so TagLib can only
        // extrapolate from the first frame, and trusting that would need a walk over the first
        // few hundred frames anyway; the exact count costs less than opening the file in TagLib.
        MpegFrameCounter counter(window);
        if (const auto first = counter.chainedStart(); first && first->layer != 3)
            ms = counter.exactLengthMs();
    }
    // Raw AAC, AC-3 and MPEG audio streams carry no length anywhere, so libavformat would
    // only estimate it (and the frames would be counted anyway) or read every packet;
    // counting the frames straight away skips opening a demuxer and a decoder, which costs
    // ten times the count. Only a stream whose first frames chain is taken this way;
    // anything else still goes to libavformat.
    // AAC and AC-3 frames are counted before TagLib is asked: it reads neither (it would
    // search the whole stream for MPEG frames and find none), and opening it costs more than
    // the count of a short song. Their sync words cannot open an MPEG audio stream, so no
    // file TagLib reads starts with three such frames in a chain. (The unbuffered method keeps
    // the order it had, so that it still shows how the probe read before.)
    const auto countAdtsOrAc3 = [&] {
        if (AdtsFrameCounter::startsWithAdts(window))
            ms = AdtsFrameCounter::exactLengthMs(window);
        else if (Ac3FrameCounter::startsWithAc3(window))
            ms = Ac3FrameCounter::exactLengthMs(window);
    };
    if (!plausible(ms) && method == Method::Best && !direct) {
        countAdtsOrAc3();
        if (!plausible(ms))
            ms = headedMpegLength(window, name);
    }
    if (!plausible(ms) && method != Method::LibavOnly)
        ms = tagLibLength(window, name, method == Method::Best, direct);
    if (!plausible(ms) && method == Method::Best) {
        if (direct)
            countAdtsOrAc3();
        if (MpegFrameCounter counter(window); !plausible(ms) && counter.chainedStart())
            ms = counter.exactLengthMs();
    }
    if (!plausible(ms) && method != Method::TagLibOnly)
        ms = libavLength(window, name, method == Method::Best);
    return plausible(ms) ? ms : std::nullopt;
}
