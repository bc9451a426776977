#pragma once

#include <QList>
#include <QString>

// Where each song lies on an audio CD. Everything is counted in sectors of
// 1/75 s (588 stereo sample frames at 44.1 kHz, 2,352 bytes) and in sample
// frames; pure arithmetic, no audio, no files.
struct CdTrack
{
    qint64 songFrames = 0;     // the song's own samples
    qint64 pregapSectors = 0;  // silence in the image before the track's index 1
    qint64 startSector = 0;    // index 1, counted from the start of the image
    qint64 sectors = 0;        // the track's audio: the song, padded
    bool padded = false;       // shorter than a track may be: silence was added

    [[nodiscard]] qint64 gapStartSector() const { return startSector - pregapSectors; }
};

struct CdLayout
{
    static constexpr qint64 SampleRate = 44100;
    static constexpr qint64 FramesPerSector = 588;
    static constexpr qint64 BytesPerSector = 2352;
    static constexpr qint64 SectorsPerSecond = 75;
    static constexpr int MaxTracks = 99;
    // A track may not be shorter than four seconds.
    static constexpr qint64 MinTrackSectors = 4 * SectorsPerSecond;
    // Every disc starts with two seconds of silence before track 1; players
    // and burners add it themselves, so it is never part of the image.
    static constexpr qint64 LeadInSectors = 2 * SectorsPerSecond;
    // An 80-minute CD-R, the blank every shop sells.
    static constexpr qint64 Disc80Sectors = 80 * 60 * SectorsPerSecond;

    QList<CdTrack> tracks;
    qint64 imageSectors = 0;

    [[nodiscard]] qint64 imageBytes() const { return imageSectors * BytesPerSector; }
    // What the disc holds: the lead-in gap and the image.
    [[nodiscard]] qint64 discSectors() const { return LeadInSectors + imageSectors; }
    // Sectors left on a disc of `capacity` sectors; negative when it does not fit.
    [[nodiscard]] qint64 sectorsLeft(qint64 capacity = Disc80Sectors) const { return capacity - discSectors(); }

    // The layout of songs of these lengths, in this order, with `gapSeconds`
    // of silence between tracks (0 for none).
    [[nodiscard]] static CdLayout plan(const QList<qint64> &songFrames, int gapSeconds);
    // Sample frames of a length in milliseconds, rounded to the nearest frame.
    [[nodiscard]] static qint64 framesOfMs(double ms);
    // A sector count as a cue sheet writes it: "mm:ss:ff", minutes unbounded.
    [[nodiscard]] static QString msf(qint64 sectors);
    // Whole seconds, rounded down: what a time-left figure may promise.
    [[nodiscard]] static qint64 wholeSeconds(qint64 sectors) { return sectors / SectorsPerSecond; }
    // Seconds as a disc's time is shown: "mm:ss", minutes unbounded.
    [[nodiscard]] static QString minutesText(qint64 seconds);
};

// The words a disc and its tracks carry besides the audio.
struct CdText
{
    QString title;                // the disc's
    QString performer;            // the disc's; may be empty
    QStringList trackTitles;      // one per track
    QStringList trackPerformers;  // one per track, or empty
};

// The cue sheet of a one-file image: FILE, one TRACK per song with its gap as
// INDEX 00, INDEX 01, TITLE and PERFORMER. Quotation marks and line breaks in
// the words would end the field early, so they are replaced (cueWords).
[[nodiscard]] QString cueSheet(const CdLayout &layout, const CdText &text, const QString &binFileName);

// Words as a cue sheet can hold them between its quotation marks: a quotation
// mark becomes an apostrophe, a control character or a line break a blank.
// The image's file is named so too, so that its sheet names a file that exists.
[[nodiscard]] QString cueWords(QString words);
