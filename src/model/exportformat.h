#pragma once

#include "model/exportplan.h"
#include "model/loudness.h"

#include <QList>
#include <QString>

#include <optional>

// The form the export's songs take on the stick: exact copies, or files the
// venue's player reads, optionally brought to one level. Which song is
// converted how, and under which name, is decided here without touching a file.
class ExportFormat
{
public:
    enum class Format {
        Original,   // copies, unless a song's level must change
        Mp3,        // every song an MP3 (an MP3 stays one without being encoded again)
        Wav,        // every song a 44.1 kHz 16-bit WAV
    };

    // What is known of a song before it is converted.
    struct Source {
        double gainDb = 0;                  // the level plan's gain; 0 when levels are not matched
        std::optional<Loudness> loudness;   // for the MP3 steps' peak rule
        qint64 bytes = 0;                   // the source file's size
        double seconds = 0;                 // its play length
        SongEdits edits;                    // the row's edits; empty for none
        // For an edited MP3: whether its own frames can be cut for the edits
        // (it carries the header that tells a gapless decoder which samples
        // are the song). Known only from the file; one without is encoded.
        bool mp3FramesCut = true;
    };

    // "copy", "mp3", "wav" as the command line takes them; none for anything else.
    [[nodiscard]] static std::optional<Format> parse(const QString &word);
    [[nodiscard]] static QString word(Format format);
    // The text the window shows for it.
    [[nodiscard]] static QString caption(Format format);

    // Sets each item's conversion, export name and expected size. `sources`
    // holds one entry per item, in the same order.
    static void apply(ExportPlan &plan, Format format, const QList<Source> &sources);

    // The export name a song gets in another format: its number, its title,
    // the new extension ("01 Opening.m4a" -> "01 Opening.mp3").
    [[nodiscard]] static QString renamed(const ExportItem &item, const QString &extension);

    // Whether an MP3 with these edits keeps its own frames: only its start,
    // its end and fades of at least MinLosslessFadeMs. Its frames are cut at
    // their edges and its fades are the frames' gain steps, both exact for a
    // gapless player. A cut inside the song is not: the two frames that meet
    // at the join overlap in the decoder, so the join would sound neither
    // side; key and tempo make new samples; a shorter fade would step audibly.
    [[nodiscard]] static bool mp3EditStaysLossless(const SongEdits &edits, qint64 songMs);
    // Whether the song reaches the stick without being encoded lossily again,
    // edits and all: the set list row tells it. `mp3FramesCut` as in Source.
    [[nodiscard]] static bool staysLossless(const QString &fileName, const SongEdits &edits, qint64 songMs, Format format,
                                            bool mp3FramesCut);
    static constexpr qint64 MinLosslessFadeMs = 2000;

    // MP3 at 320 kbps is 40,000 bytes a second; a WAV at 44.1 kHz, 16 bits,
    // stereo is 176,400.
    static constexpr qint64 Mp3BytesPerSecond = 40000;
    static constexpr qint64 WavBytesPerSecond = 176400;
};
