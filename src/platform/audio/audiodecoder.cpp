#include "platform/audio/audiodecoder.h"

#include "platform/audio/resampler.h"
#include "platform/media/regularfile.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cmath>
#include <mutex>
#include <vector>

using namespace Qt::StringLiterals;

struct AudioDecoder::Context
{
    AVFormatContext *format = nullptr;
    AVCodecContext *codec = nullptr;
    AVPacket *packet = nullptr;
    AVFrame *frame = nullptr;
    int stream = -1;
    std::unique_ptr<Resampler> resampler;
    AudioDecoder::Output output;
    std::vector<float> block;
    // iTunes writes its encoder delay into an iTunSMPB tag that FFmpeg does not
    // read; it is applied by hand when the container trims nothing itself.
    qint64 tagDelay = 0;
    qint64 tagLength = 0;
    bool trimDecided = false;
    bool trimByTag = false;
    qint64 seen = 0;
    // Where the song starts in the stream's time stamps: those of the first
    // sample delivered after the trim, and of the first frame decoded at all.
    qint64 origin = AV_NOPTS_VALUE;
    qint64 rawOrigin = AV_NOPTS_VALUE;
    // After a seek: the song time (in seconds) the first delivered sample
    // must have; the frames before it are cut. Negative when none is due.
    double skipTo = -1;
    // After a seek into the middle the tag's trim counts from the time stamps.
    bool seenUnknown = false;

    [[nodiscard]] double secondsOf(qint64 pts) const
    {
        return double(pts) * av_q2d(format->streams[stream]->time_base);
    }

    // Cuts `skip` samples off the head of a frame.
    static void cutHead(AVFrame *f, int skip)
    {
        const AVSampleFormat fmt = AVSampleFormat(f->format);
        const bool planar = av_sample_fmt_is_planar(fmt);
        const int bytes = av_get_bytes_per_sample(fmt) * (planar ? 1 : f->ch_layout.nb_channels);
        for (int plane = 0; plane < (planar ? f->ch_layout.nb_channels : 1); ++plane)
            f->extended_data[plane] += ptrdiff_t(skip) * bytes;
        f->nb_samples -= skip;
    }

    // Where a decoded frame lies, and what the seek and the song's origin
    // make of it; false when none of it is to be heard.
    bool place(AVFrame *f)
    {
        const qint64 pts = f->best_effort_timestamp;
        if (rawOrigin == AV_NOPTS_VALUE && pts != AV_NOPTS_VALUE)
            rawOrigin = pts;
        if (seenUnknown && pts != AV_NOPTS_VALUE && f->sample_rate > 0) {
            seen = qint64(std::llround((secondsOf(pts) - secondsOf(rawOrigin)) * f->sample_rate));
            seenUnknown = false;
        }
        const qint64 first = seen;
        if (!trim(f))
            return false;
        const int trimmed = trimByTag ? int(qMax<qint64>(0, qMin(seen, tagDelay) - first)) : 0;
        if (origin == AV_NOPTS_VALUE && pts != AV_NOPTS_VALUE && skipTo < 0)
            origin = pts + av_rescale_q(trimmed, AVRational{ 1, qMax(1, f->sample_rate) },
                                        format->streams[stream]->time_base);
        if (skipTo < 0)
            return true;
        if (pts == AV_NOPTS_VALUE || origin == AV_NOPTS_VALUE || f->sample_rate <= 0) {
            skipTo = -1;
            return true;
        }
        const double at = secondsOf(pts) - secondsOf(origin) + double(trimmed) / f->sample_rate;
        const qint64 skip = std::llround((skipTo - at) * f->sample_rate);
        if (skip >= f->nb_samples)
            return false;
        if (skip > 0)
            cutHead(f, int(skip));
        skipTo = -1;
        return true;
    }

    // Cuts the frame to the part of it that belongs to the song; false when
    // none of it does.
    bool trim(AVFrame *f)
    {
        const qint64 first = seen;
        seen += f->nb_samples;
        if (!trimByTag)
            return true;
        const qint64 from = qMax(first, tagDelay), to = qMin(seen, tagDelay + tagLength);
        if (to <= from)
            return false;
        const int skip = int(from - first);
        cutHead(f, skip);
        f->nb_samples = int(to - from);
        return true;
    }

    ~Context()
    {
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
    }
};

AudioDecoder::AudioDecoder() : d(std::make_unique<Context>())
{
}

AudioDecoder::~AudioDecoder() = default;

std::unique_ptr<AudioDecoder> AudioDecoder::open(const QString &path, Output output, QString *reason)
{
    auto fail = [reason](const QString &why) {
        if (reason)
            *reason = why;
        return nullptr;
    };
    // A pipe or a device under a song's name would block the reader forever.
    if (!RegularFile(path).isOpen())
        return fail(u"ファイルが見つからないか、読めません"_s);

    // Damaged songs are reported by name; the library's own chatter on the
    // terminal would only alarm.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });

    std::unique_ptr<AudioDecoder> decoder(new AudioDecoder);
    Context &c = *decoder->d;
    if (avformat_open_input(&c.format, path.toUtf8().constData(), nullptr, nullptr) < 0)
        return fail(u"音声ファイルとして開けません"_s);
    if (avformat_find_stream_info(c.format, nullptr) < 0)
        return fail(u"ファイルの中身を読み取れません"_s);
    c.stream = av_find_best_stream(c.format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (c.stream < 0)
        return fail(u"音声が含まれていません"_s);
    AVStream *stream = c.format->streams[c.stream];
    const AVCodec *codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec)
        return fail(u"この形式の音声には対応していません（%1）"_s.arg(QString::fromUtf8(avcodec_get_name(stream->codecpar->codec_id))));
    c.codec = avcodec_alloc_context3(codec);
    if (!c.codec || avcodec_parameters_to_context(c.codec, stream->codecpar) < 0)
        return fail(u"音声を読む準備ができません"_s);
    c.codec->pkt_timebase = stream->time_base;
    // Songs are decoded side by side, one thread each.
    c.codec->thread_count = 1;
    if (avcodec_open2(c.codec, codec, nullptr) < 0)
        return fail(u"この形式の音声には対応していません（%1）"_s.arg(QString::fromUtf8(codec->name)));
    for (unsigned i = 0; i < c.format->nb_streams; ++i)
        if (int(i) != c.stream)
            c.format->streams[i]->discard = AVDISCARD_ALL;
    c.packet = av_packet_alloc();
    c.frame = av_frame_alloc();
    if (!c.packet || !c.frame)
        return fail(u"メモリが足りません"_s);
    c.output = output;
    c.resampler = std::make_unique<Resampler>(output.sampleRate, output.stereo);

    decoder->m_sourceChannels = c.codec->ch_layout.nb_channels;
    decoder->m_sourceMask = c.codec->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? c.codec->ch_layout.u.mask : 0;
    if (stream->duration > 0)
        decoder->m_statedMs = double(stream->duration) * av_q2d(stream->time_base) * 1000.0;
    else if (c.format->duration > 0)
        decoder->m_statedMs = double(c.format->duration) / (AV_TIME_BASE / 1000.0);
    decoder->m_stored.container = QByteArray(c.format->iformat->name).split(',').value(0);
    decoder->m_stored.codecId = int(stream->codecpar->codec_id);
    decoder->m_stored.bitsPerSample = stream->codecpar->bits_per_raw_sample > 0 ? stream->codecpar->bits_per_raw_sample
                                                                              : stream->codecpar->bits_per_coded_sample;
    decoder->m_stored.floating = c.codec->sample_fmt == AV_SAMPLE_FMT_FLT || c.codec->sample_fmt == AV_SAMPLE_FMT_FLTP
                                 || c.codec->sample_fmt == AV_SAMPLE_FMT_DBL || c.codec->sample_fmt == AV_SAMPLE_FMT_DBLP;
    decoder->m_stored.sampleRate = c.codec->sample_rate;
    const AVDictionaryEntry *artist = av_dict_get(c.format->metadata, "artist", nullptr, 0);
    if (!artist)
        artist = av_dict_get(stream->metadata, "artist", nullptr, 0);
    if (artist)
        decoder->m_artist = QString::fromUtf8(artist->value).trimmed();
    // " 00000000 00000840 000001CA 00000000003F31F6 ...": delay, padding, length, in hex.
    const AVDictionaryEntry *smpb = av_dict_get(c.format->metadata, "iTunSMPB", nullptr, 0);
    if (!smpb)
        smpb = av_dict_get(stream->metadata, "iTunSMPB", nullptr, 0);
    if (smpb) {
        const QStringList fields = QString::fromLatin1(smpb->value).split(u' ', Qt::SkipEmptyParts);
        bool delayOk = false, lengthOk = false;
        c.tagDelay = fields.value(1).toLongLong(&delayOk, 16);
        c.tagLength = fields.value(3).toLongLong(&lengthOk, 16);
        if (!delayOk || !lengthOk || c.tagDelay < 0 || c.tagLength <= 0)
            c.tagDelay = c.tagLength = 0;
    }
    return decoder;
}

QList<std::pair<QByteArray, QByteArray>> AudioDecoder::tags() const
{
    QList<std::pair<QByteArray, QByteArray>> all;
    for (const AVDictionary *dict : { static_cast<const AVDictionary *>(d->format->metadata),
                                      static_cast<const AVDictionary *>(d->format->streams[d->stream]->metadata) }) {
        const AVDictionaryEntry *entry = nullptr;
        while ((entry = av_dict_get(dict, "", entry, AV_DICT_IGNORE_SUFFIX)))
            all.append({ QByteArray(entry->key), QByteArray(entry->value) });
    }
    return all;
}

int AudioDecoder::outRate() const
{
    return d->resampler->outRate();
}

int AudioDecoder::outChannels() const
{
    return d->resampler->outChannels();
}

bool AudioDecoder::run(const Consumer &consumer, QString *reason)
{
    Context &c = *d;
    const auto unreadable = [reason] {
        if (reason)
            *reason = u"音声の途中が壊れていて読めません"_s;
        return false;
    };
    // Hands on what the resampler has gathered; false when the consumer stops.
    const auto deliver = [&] {
        const int channels = c.resampler->outChannels();
        if (c.block.empty() || channels == 0)
            return true;
        const bool more = consumer(c.block.data(), qint64(c.block.size()) / channels);
        c.block.clear();
        return more;
    };
    // Receives every frame the decoder has ready.
    const auto drain = [&]() -> int {
        for (;;) {
            const int got = avcodec_receive_frame(c.codec, c.frame);
            if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
                return 0;
            if (got < 0)
                return got;
            const bool converted = !c.place(c.frame) || c.resampler->convert(c.frame, c.block);
            av_frame_unref(c.frame);
            if (!converted)
                return AVERROR(EINVAL);
            if (!deliver())
                return 1;
        }
    };

    int errors = 0;
    for (;;) {
        const int read = av_read_frame(c.format, c.packet);
        if (read == AVERROR_EOF)
            break;
        if (read < 0) {
            // A damaged tail reads as an I/O error; what came before stays.
            if (read == AVERROR(EIO) || ++errors > 100)
                return unreadable();
            continue;
        }
        if (c.packet->stream_index != c.stream) {
            av_packet_unref(c.packet);
            continue;
        }
        if (!c.trimDecided) {
            c.trimDecided = true;
            c.trimByTag = c.tagLength > 0 && !av_packet_get_side_data(c.packet, AV_PKT_DATA_SKIP_SAMPLES, nullptr);
        }
        const int sent = avcodec_send_packet(c.codec, c.packet);
        av_packet_unref(c.packet);
        // A single damaged packet is skipped as players skip it; a stream of
        // them is not a song.
        if (sent < 0 && sent != AVERROR(EAGAIN) && ++errors > 100)
            return unreadable();
        const int drained = drain();
        if (drained == 1)
            return false;
        if (drained < 0 && drained != AVERROR_INVALIDDATA && ++errors > 100)
            return unreadable();
    }
    avcodec_send_packet(c.codec, nullptr);
    const int drained = drain();
    if (drained == 1)
        return false;
    if (!c.resampler->convert(nullptr, c.block))
        return unreadable();
    return deliver();
}

bool AudioDecoder::seek(qint64 frame)
{
    Context &c = *d;
    AVStream *st = c.format->streams[c.stream];
    const int rate = outRate() > 0 ? outRate() : c.codec->sample_rate;
    if (rate <= 0)
        return false;
    // The song's origin is known once its first frame has been decoded.
    if (frame > 0 && c.origin == AV_NOPTS_VALUE && c.skipTo < 0 && !run([](const float *, qint64) { return false; }, nullptr)
        && c.origin == AV_NOPTS_VALUE)
        return false;
    const double target = double(qMax<qint64>(0, frame)) / rate;
    // A little before the point: an MP3 frame needs the bits of the frames
    // before it, Opus and Vorbis a short preroll.
    constexpr double PrerollSeconds = 0.2;
    const qint64 start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    const bool fromStart = frame <= 0 || c.origin == AV_NOPTS_VALUE
        || c.secondsOf(c.origin) + target - PrerollSeconds <= c.secondsOf(start);
    const qint64 ts = fromStart ? start
                                : c.origin + qint64((target - PrerollSeconds) / av_q2d(st->time_base));
    if (av_seek_frame(c.format, c.stream, ts, AVSEEK_FLAG_BACKWARD) < 0
        && (fromStart || av_seek_frame(c.format, c.stream, start, AVSEEK_FLAG_BACKWARD) < 0))
        return false;
    avcodec_flush_buffers(c.codec);
    c.resampler = std::make_unique<Resampler>(c.output.sampleRate, c.output.stereo);
    c.block.clear();
    c.seen = 0;
    c.seenUnknown = !fromStart;
    c.skipTo = frame > 0 ? target : -1;
    return true;
}

bool AudioDecoder::tryFirstSecond(QString *reason)
{
    qint64 frames = 0;
    QString why;
    const bool ended = run(
        [&](const float *, qint64 n) {
            frames += n;
            return frames < outRate();
        },
        &why);
    if ((!ended && !why.isEmpty()) || frames == 0) {
        if (reason)
            *reason = why.isEmpty() ? u"音声が入っていません"_s : why;
        return false;
    }
    return true;
}
