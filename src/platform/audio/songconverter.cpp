#include "platform/audio/songconverter.h"

#include "platform/audio/audiodecoder.h"
#include "platform/audio/audiofilewriter.h"
#include "platform/audio/edits/editedrender.h"
#include "platform/audio/edits/mp3edit.h"
#include "platform/audio/loudness/mp3framegain.h"
#include "platform/storage/systemreason.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <QFile>
#include <QFileInfo>

#include <cmath>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

using Kind = SongConversion::Kind;

// The file a rewritten song becomes: the container its name promises, with
// samples as fine as the song's own.
AudioFileWriter::Layout ownFormat(const AudioDecoder::Stored &stored, const QString &destination)
{
    const QString extension = QFileInfo(destination).suffix().toLower();
    AudioFileWriter::Layout layout;
    const bool bigEndian = extension == u"aif"_s || extension == u"aiff"_s;
    layout.container = extension == u"flac"_s ? "flac" : bigEndian ? "aiff" : "wav";
    const int bits = stored.bitsPerSample;
    if (layout.container == "flac") {
        layout.codecId = AV_CODEC_ID_FLAC;
        layout.sampleFormat = bits > 16 ? AV_SAMPLE_FMT_S32 : AV_SAMPLE_FMT_S16;
        layout.bitsPerRawSample = bits > 16 ? 24 : 16;
    } else if (stored.floating && bits >= 32) {
        layout.codecId = bigEndian ? AV_CODEC_ID_PCM_F32BE : AV_CODEC_ID_PCM_F32LE;
        layout.sampleFormat = AV_SAMPLE_FMT_FLT;
    } else if (bits > 24) {
        layout.codecId = bigEndian ? AV_CODEC_ID_PCM_S32BE : AV_CODEC_ID_PCM_S32LE;
        layout.sampleFormat = AV_SAMPLE_FMT_S32;
        layout.bitsPerRawSample = 32;
    } else if (bits > 16) {
        layout.codecId = bigEndian ? AV_CODEC_ID_PCM_S24BE : AV_CODEC_ID_PCM_S24LE;
        layout.sampleFormat = AV_SAMPLE_FMT_S32;
        layout.bitsPerRawSample = 24;
    } else {
        // 16 bits, and 8-bit or compressed WAVs, which get 16 bits rather than lose more.
        layout.codecId = bigEndian ? AV_CODEC_ID_PCM_S16BE : AV_CODEC_ID_PCM_S16LE;
        layout.sampleFormat = AV_SAMPLE_FMT_S16;
    }
    return layout;
}

AudioFileWriter::Layout playerFormat(Kind kind, const QString &title, const QString &artist)
{
    AudioFileWriter::Layout layout;
    if (kind == Kind::ToMp3) {
        layout.container = "mp3";
        layout.codecId = AV_CODEC_ID_MP3;
        layout.sampleFormat = AV_SAMPLE_FMT_FLTP;
        layout.bitRate = 320000;
        layout.id3v23 = true;
    } else {
        layout.container = "wav";
        layout.codecId = AV_CODEC_ID_PCM_S16LE;
        layout.sampleFormat = AV_SAMPLE_FMT_S16;
    }
    layout.tags.append({ "title", title.toUtf8() });
    if (!artist.isEmpty())
        layout.tags.append({ "artist", artist.toUtf8() });
    return layout;
}

bool decodeInto(const QString &source, Kind kind, double gainDb, const QString &title, const QString &destination,
                const std::atomic_bool *abort, QString *reason)
{
    const bool own = kind == Kind::Rewrite;
    const std::unique_ptr<AudioDecoder> decoder
        = AudioDecoder::open(source, own ? AudioDecoder::Output{ 0, false } : AudioDecoder::Output{ 44100, true }, reason);
    if (!decoder)
        return false;
    AudioFileWriter::Layout layout = own ? ownFormat(decoder->stored(), destination) : playerFormat(kind, title, decoder->artist());
    if (own)
        layout.tags = decoder->tags();
    const float gain = float(std::pow(10.0, gainDb / 20.0));
    std::unique_ptr<AudioFileWriter> writer;
    std::vector<float> block;
    QString why;
    // The writer is made once the first samples tell the rate and channels.
    const bool decoded = decoder->run(
        [&](const float *samples, qint64 frames) {
            if (abort && *abort)
                return false;
            if (!writer) {
                layout.sampleRate = decoder->outRate();
                layout.channels = decoder->outChannels();
                layout.channelMask = own ? decoder->sourceChannelMask() : 0;
                writer = AudioFileWriter::create(destination, layout, &why);
                if (!writer)
                    return false;
            }
            if (gain == 1.0f)
                return writer->write(samples, frames, &why);
            block.assign(samples, samples + frames * decoder->outChannels());
            for (float &s : block)
                s *= gain;
            return writer->write(block.data(), frames, &why);
        },
        &why);
    if (decoded && !writer && why.isEmpty())
        why = u"音声が入っていません"_s;
    if (!decoded || !writer || !writer->finish(&why)) {
        if (reason)
            *reason = (abort && *abort) ? QString() : why;
        return false;
    }
    return true;
}

// The edited song, rendered sample by sample into the conversion's format.
bool renderInto(const QString &source, Kind kind, const SongEdits &edits, double gainDb, const QString &title,
                const QString &destination, const std::atomic_bool *abort, QString *reason)
{
    const bool own = kind == Kind::Rewrite;
    QString why;
    const std::optional<EditedRender> render
        = EditedRender::open(source, edits, own ? AudioDecoder::Output{ 0, false } : AudioDecoder::Output{ 44100, true }, &why);
    std::unique_ptr<AudioFileWriter> writer;
    if (render) {
        AudioFileWriter::Layout layout = own ? ownFormat(render->stored(), destination) : playerFormat(kind, title, render->artist());
        if (own)
            layout.tags = render->tags();
        layout.sampleRate = render->rate();
        layout.channels = render->channels();
        layout.channelMask = own ? render->sourceChannelMask() : 0;
        writer = AudioFileWriter::create(destination, layout, &why);
    }
    if (writer) {
        const float gain = float(std::pow(10.0, gainDb / 20.0));
        std::vector<float> block;
        const int channels = render->channels();
        const bool rendered = render->run(
            [&](const float *samples, qint64 frames) {
                if (gain == 1.0f)
                    return writer->write(samples, frames, &why);
                block.assign(samples, samples + frames * channels);
                for (float &s : block)
                    s *= gain;
                return writer->write(block.data(), frames, &why);
            },
            abort, &why);
        if (rendered && writer->finish(&why))
            return true;
    }
    if (reason)
        *reason = (abort && *abort) ? QString() : why;
    return false;
}

enum class FrameGain { Moved, NoFrames, Failed };

FrameGain moveFrameGain(const QString &source, int steps, const QString &destination, QString *reason)
{
    QFile in(source);
    QByteArray bytes;
    if (!in.open(QIODevice::ReadOnly) || (bytes = in.readAll(), in.error() != QFileDevice::NoError)) {
        *reason = u"元の曲のファイルを読み込めません"_s;
        return FrameGain::Failed;
    }
    if (!Mp3FrameGain::apply(bytes, steps))
        return FrameGain::NoFrames;
    QFile out(destination);
    SystemReason::clear();
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(bytes) != bytes.size() || !out.flush()) {
        *reason = SystemReason::lastError(out.errorString());
        return FrameGain::Failed;
    }
    return FrameGain::Moved;
}

} // namespace

bool SongConverter::convert(const QString &source, const SongConversion &conversion, const QString &title,
                            const QString &destination, const std::atomic_bool *abort, QString *reason)
{
    QString why;
    bool ok = false;
    if (conversion.kind == Kind::Mp3FrameGain) {
        const FrameGain moved = moveFrameGain(source, conversion.mp3Steps, destination, &why);
        ok = moved == FrameGain::Moved;
        // A stream whose frames cannot be walked (free format, say) is encoded
        // afresh instead, under the same name.
        if (moved == FrameGain::NoFrames)
            ok = decodeInto(source, Kind::ToMp3, conversion.gainDb, title, destination, abort, &why);
    } else if (conversion.kind == Kind::Mp3Edit) {
        const Mp3Edit::Outcome cut = Mp3Edit::write(source, conversion.edits, conversion.mp3Steps, destination, &why);
        ok = cut == Mp3Edit::Outcome::Written;
        // A stream whose frames cannot be cut as asked is encoded afresh.
        if (cut == Mp3Edit::Outcome::NotCuttable)
            ok = renderInto(source, Kind::ToMp3, conversion.edits, conversion.gainDb, title, destination, abort, &why);
    } else if (conversion.kind != Kind::Copy && !conversion.edits.isEmpty()) {
        ok = renderInto(source, conversion.kind, conversion.edits, conversion.gainDb, title, destination, abort, &why);
    } else if (conversion.kind != Kind::Copy) {
        ok = decodeInto(source, conversion.kind, conversion.gainDb, title, destination, abort, &why);
    } else {
        why = u"変換の指定がありません"_s;
    }
    if (!ok) {
        QFile::remove(destination);
        if (reason)
            *reason = why;
    }
    return ok;
}
