#include "model/exportformat.h"

#include "model/levelmatch.h"
#include "model/libraryentry.h"

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {

using Kind = SongConversion::Kind;

QString extensionOf(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(u'.');
    return dot < 0 ? QString() : fileName.mid(dot + 1).toLower();
}

bool isMp3(const QString &extension) { return extension == u"mp3"_s; }

// Formats that are rewritten in their own kind: they hold plain samples (or
// lossless ones), so the gain costs nothing but the rounding of the last bit.
bool rewritesItself(const QString &extension)
{
    return extension == u"wav"_s || extension == u"flac"_s || extension == u"aif"_s || extension == u"aiff"_s;
}

// Room for the tags, the headers and the encoder's first and last frames.
constexpr qint64 HeaderSlack = 64 * 1024;

qint64 expectedBytes(Kind kind, const ExportFormat::Source &source)
{
    const double playSeconds = source.edits.isEmpty() ? source.seconds
                                                      : double(source.edits.editedMs(qint64(source.seconds * 1000))) / 1000.0;
    const double seconds = std::max(0.0, playSeconds) + 1;
    switch (kind) {
    case Kind::Copy:
    case Kind::Mp3FrameGain:
    case Kind::Mp3Edit:
        return -1;
    case Kind::ToMp3:
        return qint64(seconds * ExportFormat::Mp3BytesPerSecond) + HeaderSlack;
    case Kind::ToWav:
        return qint64(seconds * ExportFormat::WavBytesPerSecond) + HeaderSlack;
    case Kind::Rewrite:
        // A lossless file grows with a lift, by about a bit a sample for each
        // 6 dB; a plain one keeps its size. Counted generously: running out of
        // room halfway is worse than a refusal. A slower tempo makes it longer.
        return qint64(double(source.bytes) * (1.05 + 0.03 * std::max(0.0, source.gainDb))
                      * std::max(1.0, 100.0 / source.edits.fitted(qint64(source.seconds * 1000)).tempoPercent))
               + HeaderSlack;
    }
    return -1;
}

} // namespace

namespace {

struct Named {
    ExportFormat::Format format;
    QString word;
    QString caption;
};
const Named Names[] = {
    { ExportFormat::Format::Original, u"copy"_s, u"元のまま"_s },
    { ExportFormat::Format::Mp3, u"mp3"_s, u"MP3"_s },
    { ExportFormat::Format::Wav, u"wav"_s, u"WAV"_s },
};

const Named &named(ExportFormat::Format format)
{
    return *std::find_if(std::begin(Names), std::end(Names), [format](const Named &n) { return n.format == format; });
}

} // namespace

std::optional<ExportFormat::Format> ExportFormat::parse(const QString &word)
{
    for (const Named &n : Names)
        if (n.word == word)
            return n.format;
    return std::nullopt;
}

QString ExportFormat::word(Format format)
{
    return named(format).word;
}

QString ExportFormat::caption(Format format)
{
    return named(format).caption;
}

QString ExportFormat::renamed(const ExportItem &item, const QString &extension)
{
    const QString title = LibraryEntry::looksLikeSong(item.fileName) ? LibraryEntry::titleOf(item.fileName)
                          : item.fileName.contains(u'.') ? item.fileName.left(item.fileName.lastIndexOf(u'.'))
                                                         : item.fileName;
    return item.number + u' ' + title + u'.' + extension;
}

bool ExportFormat::mp3EditStaysLossless(const SongEdits &edits, qint64 songMs)
{
    const SongEdits f = edits.fitted(songMs);
    const auto fadeOk = [](qint64 ms) { return ms == 0 || ms >= MinLosslessFadeMs; };
    return f.cuts.isEmpty() && !f.stretches() && fadeOk(f.fadeInMs) && fadeOk(f.fadeOutMs);
}

bool ExportFormat::staysLossless(const QString &fileName, const SongEdits &edits, qint64 songMs, Format format,
                                 bool mp3FramesCut)
{
    const QString extension = extensionOf(fileName);
    if (edits.isEmpty() || format == Format::Wav)
        return true;
    if (isMp3(extension))
        return mp3FramesCut && mp3EditStaysLossless(edits, songMs);
    return format == Format::Original && rewritesItself(extension);
}

void ExportFormat::apply(ExportPlan &plan, Format format, const QList<Source> &sources)
{
    for (qsizetype i = 0; i < plan.items.size(); ++i) {
        ExportItem &item = plan.items[i];
        const Source source = sources.value(i);
        const QString extension = extensionOf(item.fileName);
        const bool gain = source.gainDb != 0;
        SongConversion c;
        c.gainDb = source.gainDb;
        c.edits = source.edits;
        const bool edited = !source.edits.isEmpty();

        if (format == Format::Wav) {
            c.kind = Kind::ToWav;
        } else if (edited && isMp3(extension)) {
            const bool own = source.mp3FramesCut && mp3EditStaysLossless(source.edits, qint64(source.seconds * 1000));
            c.mp3Steps = own && gain && source.loudness ? LevelMatch::mp3Steps(source.gainDb, *source.loudness) : 0;
            c.kind = own ? Kind::Mp3Edit : Kind::ToMp3;
            if (own)
                c.gainDb = c.mp3Steps * LevelMatch::Mp3StepDb;
        } else if (edited) {
            // Every sample is made anew: a lossless song stays in its own
            // format, any other becomes an MP3 as a player reads it.
            c.kind = format == Format::Original && rewritesItself(extension) ? Kind::Rewrite : Kind::ToMp3;
        } else if (isMp3(extension)) {
            // An MP3 is never encoded again: that would only lose quality. Its
            // level moves in the frames' own lossless steps.
            c.mp3Steps = gain && source.loudness ? LevelMatch::mp3Steps(source.gainDb, *source.loudness) : 0;
            c.kind = c.mp3Steps != 0 ? Kind::Mp3FrameGain : Kind::Copy;
            c.gainDb = c.mp3Steps * LevelMatch::Mp3StepDb;
        } else if (format == Format::Mp3) {
            c.kind = Kind::ToMp3;
        } else if (!gain) {
            c.kind = Kind::Copy;
        } else {
            c.kind = rewritesItself(extension) ? Kind::Rewrite : Kind::ToMp3;
        }

        item.conversion = c;
        item.expectedBytes = expectedBytes(c.kind, source);
        const QString newExtension = c.kind == Kind::ToMp3 ? u"mp3"_s : c.kind == Kind::ToWav ? u"wav"_s : QString();
        if (!newExtension.isEmpty() && extension != newExtension) {
            item.exportName = renamed(item, newExtension);
            item.destinationPath = plan.prefix + item.exportName;
        }
    }
}
