#include "platform/audio/audiofilewriter.h"

#include "platform/audio/pcm16dither.h"
#include "platform/storage/systemreason.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <cmath>
#include <vector>

using namespace Qt::StringLiterals;

struct AudioFileWriter::Context
{
    AVFormatContext *format = nullptr;
    AVCodecContext *codec = nullptr;
    AVStream *stream = nullptr;
    AVFrame *frame = nullptr;
    AVPacket *packet = nullptr;
    bool headerWritten = false;
    int channels = 2;
    int frameSize = 4096;            // samples per channel the encoder takes at once
    std::vector<float> pending;      // interleaved samples not yet encoded
    qint64 pts = 0;
    Pcm16Dither dither;
    std::vector<qint16> shorts;

    ~Context()
    {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&codec);
        if (format) {
            if (format->pb)
                avio_closep(&format->pb);
            avformat_free_context(format);
        }
    }
};

namespace {

QString failure(QString *reason, const QString &why)
{
    if (reason)
        *reason = why;
    return why;
}

QString writeReason(int error)
{
    if (error == AVERROR(ENOSPC) || error == AVERROR(EIO) || error == AVERROR(EROFS) || error == AVERROR(EACCES))
        return SystemReason::text(AVUNERROR(error));
    return u"音声を書き出せません"_s;
}

// One float to a 24- or 32-bit integer held in 32 bits, rounded and clipped.
qint32 toInt32(float sample, int bits)
{
    const double scale = bits == 24 ? 8388608.0 : 2147483648.0;
    const double s = std::nearbyint(double(sample) * scale);
    const double top = scale - 1;
    const double clipped = s > top ? top : s < -scale ? -scale : std::isnan(s) ? 0 : s;
    return bits == 24 ? qint32(clipped) * 256 : qint32(clipped);
}

} // namespace

AudioFileWriter::AudioFileWriter() : d(std::make_unique<Context>())
{
}

AudioFileWriter::~AudioFileWriter() = default;

std::unique_ptr<AudioFileWriter> AudioFileWriter::create(const QString &path, const Layout &layout, QString *reason)
{
    std::unique_ptr<AudioFileWriter> writer(new AudioFileWriter);
    Context &c = *writer->d;
    const auto fail = [reason](const QString &why) {
        failure(reason, why);
        return nullptr;
    };
    const AVCodec *encoder = avcodec_find_encoder(AVCodecID(layout.codecId));
    if (!encoder)
        return fail(u"この形式で書き出す部品（%1）がありません"_s.arg(QString::fromUtf8(avcodec_get_name(AVCodecID(layout.codecId)))));
    if (avformat_alloc_output_context2(&c.format, nullptr, layout.container.constData(), nullptr) < 0 || !c.format)
        return fail(u"この形式では書き出せません（%1）"_s.arg(QString::fromLatin1(layout.container)));
    c.stream = avformat_new_stream(c.format, nullptr);
    c.codec = avcodec_alloc_context3(encoder);
    c.frame = av_frame_alloc();
    c.packet = av_packet_alloc();
    if (!c.stream || !c.codec || !c.frame || !c.packet)
        return fail(u"メモリが足りません"_s);

    c.channels = layout.channels;
    c.codec->sample_fmt = AVSampleFormat(layout.sampleFormat);
    c.codec->sample_rate = layout.sampleRate;
    c.codec->bits_per_raw_sample = layout.bitsPerRawSample;
    if (layout.channelMask && av_popcount64(layout.channelMask) == layout.channels)
        av_channel_layout_from_mask(&c.codec->ch_layout, layout.channelMask);
    else
        av_channel_layout_default(&c.codec->ch_layout, layout.channels);
    c.codec->time_base = AVRational{ 1, layout.sampleRate };
    if (layout.bitRate > 0)
        c.codec->bit_rate = layout.bitRate;
    if (c.format->oformat->flags & AVFMT_GLOBALHEADER)
        c.codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    // One song per thread already keeps every core busy.
    c.codec->thread_count = 1;
    if (avcodec_open2(c.codec, encoder, nullptr) < 0)
        return fail(u"書き出しの準備ができません（%1）"_s.arg(QString::fromUtf8(encoder->name)));
    if (avcodec_parameters_from_context(c.stream->codecpar, c.codec) < 0)
        return fail(u"書き出しの準備ができません"_s);
    c.stream->time_base = c.codec->time_base;
    c.frameSize = (encoder->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) || c.codec->frame_size <= 0 ? 4096
                                                                                                          : c.codec->frame_size;
    for (const auto &[key, value] : layout.tags)
        av_dict_set(&c.format->metadata, key.constData(), value.constData(), 0);

    const int opened = avio_open(&c.format->pb, path.toUtf8().constData(), AVIO_FLAG_WRITE);
    if (opened < 0)
        return fail(u"ファイルを作れません（%1）"_s.arg(writeReason(opened)));
    AVDictionary *options = nullptr;
    if (layout.id3v23)
        av_dict_set(&options, "id3v2_version", "3", 0);
    const int header = avformat_write_header(c.format, &options);
    av_dict_free(&options);
    if (header < 0)
        return fail(u"ファイルの見出しを書けません（%1）"_s.arg(writeReason(header)));
    c.headerWritten = true;
    return writer;
}

bool AudioFileWriter::write(const float *samples, qint64 frames, QString *reason)
{
    Context &c = *d;
    c.pending.insert(c.pending.end(), samples, samples + frames * c.channels);
    return encode(false, reason);
}

bool AudioFileWriter::encode(bool last, QString *reason)
{
    Context &c = *d;
    const auto drain = [&]() -> int {
        for (;;) {
            const int got = avcodec_receive_packet(c.codec, c.packet);
            if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
                return 0;
            if (got < 0)
                return got;
            av_packet_rescale_ts(c.packet, c.codec->time_base, c.stream->time_base);
            c.packet->stream_index = c.stream->index;
            const int written = av_interleaved_write_frame(c.format, c.packet);
            if (written < 0)
                return written;
        }
    };
    const AVSampleFormat format = c.codec->sample_fmt;
    size_t used = 0;
    for (;;) {
        const qint64 available = qint64(c.pending.size() - used) / c.channels;
        if (available == 0 || (!last && available < c.frameSize))
            break;
        const int n = int(std::min<qint64>(available, c.frameSize));
        av_frame_unref(c.frame);
        c.frame->nb_samples = n;
        c.frame->format = format;
        c.frame->sample_rate = c.codec->sample_rate;
        av_channel_layout_copy(&c.frame->ch_layout, &c.codec->ch_layout);
        if (av_frame_get_buffer(c.frame, 0) < 0) {
            failure(reason, u"メモリが足りません"_s);
            return false;
        }
        const float *in = c.pending.data() + used;
        const qint64 count = qint64(n) * c.channels;
        switch (format) {
        case AV_SAMPLE_FMT_FLTP:
            for (int ch = 0; ch < c.channels; ++ch) {
                auto *out = reinterpret_cast<float *>(c.frame->extended_data[ch]);
                for (int i = 0; i < n; ++i)
                    out[i] = in[i * c.channels + ch];
            }
            break;
        case AV_SAMPLE_FMT_FLT:
            std::copy(in, in + count, reinterpret_cast<float *>(c.frame->data[0]));
            break;
        case AV_SAMPLE_FMT_S16:
            c.dither.convert(in, reinterpret_cast<qint16 *>(c.frame->data[0]), count);
            break;
        case AV_SAMPLE_FMT_S32: {
            auto *out = reinterpret_cast<qint32 *>(c.frame->data[0]);
            const int bits = c.codec->bits_per_raw_sample == 24 ? 24 : 32;
            for (qint64 i = 0; i < count; ++i)
                out[i] = toInt32(in[i], bits);
            break;
        }
        default:
            failure(reason, u"この形式では書き出せません"_s);
            return false;
        }
        used += size_t(count);
        c.frame->pts = c.pts;
        c.pts += n;
        const int sent = avcodec_send_frame(c.codec, c.frame);
        if (sent < 0) {
            failure(reason, u"音声を書き出せません"_s);
            return false;
        }
        if (const int drained = drain(); drained < 0) {
            failure(reason, writeReason(drained));
            return false;
        }
    }
    c.pending.erase(c.pending.begin(), c.pending.begin() + qint64(used));
    if (last) {
        avcodec_send_frame(c.codec, nullptr);
        if (const int drained = drain(); drained < 0) {
            failure(reason, writeReason(drained));
            return false;
        }
    }
    return true;
}

bool AudioFileWriter::finish(QString *reason)
{
    Context &c = *d;
    if (!encode(true, reason))
        return false;
    const int trailer = av_write_trailer(c.format);
    const int flushed = avio_closep(&c.format->pb);
    const int error = trailer < 0 ? trailer : flushed;
    if (error < 0 || c.format->pb) {
        failure(reason, writeReason(error));
        return false;
    }
    return true;
}
