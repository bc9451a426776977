#pragma once

#include <QList>
#include <QString>

#include <optional>
#include <vector>

// How one song of the set list is shaped without touching its file: where it
// starts and ends, fades at either end, sections cut out, its key and tempo.
// Points are song times in milliseconds, as the performer sets them while
// listening or types them; the frames they fall on are worked out per song rate
// by EditPlan, so every use of the edits (the length shown, the preview, the
// export, the disc) cuts on the same samples.
struct SongEdits
{
    struct Cut
    {
        qint64 fromMs = 0;
        qint64 toMs = 0;
        bool operator==(const Cut &) const = default;
    };
    // The song file as it was when the edits were made, to tell when it has
    // been replaced since.
    struct Stamp
    {
        qint64 size = 0;
        qint64 modifiedMs = 0; // since the epoch, UTC
        bool operator==(const Stamp &) const = default;
    };

    static constexpr int MinSemitones = -6;
    static constexpr int MaxSemitones = 6;
    static constexpr int MinTempo = 80;  // percent
    static constexpr int MaxTempo = 120; // percent
    // A cut is joined by a crossfade this long, centred on the join, so that it
    // neither clicks nor changes the edited length.
    static constexpr qint64 CrossfadeMs = 20;

    qint64 startMs = 0;
    std::optional<qint64> endMs; // none: where the song ends
    qint64 fadeInMs = 0;
    qint64 fadeOutMs = 0; // ends at the end point
    QList<Cut> cuts;      // in song time
    int semitones = 0;
    int tempoPercent = 100;
    std::optional<Stamp> stamp;

    bool operator==(const SongEdits &) const = default;

    // Nothing changes what is heard (the stamp alone is no edit).
    [[nodiscard]] bool isEmpty() const;
    // Key or tempo changed: the samples themselves are made anew.
    [[nodiscard]] bool stretches() const { return semitones != 0 || tempoPercent != 100; }

    // The edits as they can be played on a song of `songMs`: points within the
    // song and in order, cuts inside the kept part, sorted and merged where they
    // meet, fades no longer than what is kept, key and tempo within their ranges.
    [[nodiscard]] SongEdits fitted(qint64 songMs) const;

    // The length as delivered: (end - start - cuts) / tempo, in milliseconds
    // (the exact figure in frames is EditPlan's).
    [[nodiscard]] qint64 editedMs(qint64 songMs) const;

    // One line of "name=value" pairs joined by ";", seconds with three decimals:
    // "start=12.500;end=201.000;fadeout=8.000;cut=60.000-75.250;key=-2;tempo=95".
    // Unknown names are passed over when read, so a later version's lines still
    // open; a line that says nothing readable gives no edits.
    [[nodiscard]] QString toText() const;
    [[nodiscard]] static std::optional<SongEdits> fromText(QStringView text);

    // Seconds as the set-list file writes them, "12.500"; and back, refusing
    // anything that is not a finite, non-negative number.
    [[nodiscard]] static QString secondsText(qint64 ms);
    [[nodiscard]] static std::optional<qint64> msOfSeconds(QStringView text);
};

// The edits laid out on the frames of one song at one rate. The edited song is
// built in two stages: the kept ranges of the source joined (each join a
// centred crossfade) with the fades applied, all in the source's time; then,
// when the tempo changes, that stretched to its delivered length. Fades and
// crossfades are laid out shorter or longer by the tempo so that, once
// stretched, they last what the performer set.
class EditPlan
{
public:
    struct Range
    {
        qint64 from = 0; // first source frame
        qint64 to = 0;   // one past the last
    };

    EditPlan(const SongEdits &edits, qint64 songFrames, int rate);

    [[nodiscard]] const QList<Range> &kept() const { return m_kept; }
    // Frames of the joined song before any stretch.
    [[nodiscard]] qint64 joinedFrames() const { return m_joined; }
    // Frames as delivered: the joined frames divided by the tempo, rounded.
    [[nodiscard]] qint64 outputFrames() const { return m_output; }
    [[nodiscard]] int rate() const { return m_rate; }
    [[nodiscard]] double tempo() const { return m_tempo; }
    [[nodiscard]] int semitones() const { return m_semitones; }
    [[nodiscard]] qint64 crossfadeFrames() const { return m_crossfade; }
    [[nodiscard]] qint64 fadeInFrames() const { return m_fadeIn; }
    [[nodiscard]] qint64 fadeOutFrames() const { return m_fadeOut; }

    // The fades' gain at a frame of the joined song: rising linearly from 0 over
    // the fade-in, falling linearly to 0 at the end over the fade-out.
    [[nodiscard]] float fadeGain(qint64 joinedFrame) const;
    // The source frame heard at a frame of the joined song, and the joined
    // frame where a source frame is heard (a frame inside a cut: the join).
    [[nodiscard]] qint64 sourceFrame(qint64 joinedFrame) const;
    [[nodiscard]] qint64 joinedFrame(qint64 sourceFrame) const;
    // Joined frames to delivered frames and back, for a position shown or sought.
    [[nodiscard]] qint64 outputFrame(qint64 joinedFrame) const;
    [[nodiscard]] qint64 joinedOfOutput(qint64 outputFrame) const;

private:
    QList<Range> m_kept;
    QList<qint64> m_keptStarts; // joined frame at which each kept range begins
    qint64 m_joined = 0;
    qint64 m_output = 0;
    int m_rate = 0;
    double m_tempo = 1.0;
    int m_semitones = 0;
    qint64 m_crossfade = 0;
    qint64 m_fadeIn = 0;
    qint64 m_fadeOut = 0;
    qint64 m_songFrames = 0;
};

// Joins the kept ranges of a song as it is read, for a decoder that reads the
// source in order and moves at each cut. Each range is read with half a
// crossfade beyond it on the sides that join another, so the two sides of a
// join overlap and are mixed (equal power) into the joined song, to which the
// fades are applied. It can start anywhere in the joined song, for a seek.
class EditJoiner
{
public:
    struct Span
    {
        qint64 from = 0; // source frames
        qint64 to = 0;
    };

    EditJoiner(const EditPlan &plan, int channels, qint64 joinedFrom = 0);

    // The source to read next, from where the reading stands; none once the
    // joined song is complete. After a span is fed whole, the next one
    // usually starts elsewhere: the decoder must move there first.
    [[nodiscard]] std::optional<Span> nextSpan() const;
    // Source frames of nextSpan(), from its start on, in as many calls as
    // convenient. Joined frames come out appended to `out`; returns how many
    // source frames were taken (frames past the span are left).
    qint64 feed(const float *source, qint64 frames, std::vector<float> &out);
    // The joined frame the next frame out will be.
    [[nodiscard]] qint64 position() const { return m_emitted; }

private:
    void emit(qint64 joined, const float *frame, std::vector<float> &out) const;

    const EditPlan &m_plan;
    int m_channels;
    QList<EditPlan::Range> m_spans; // each kept range with its half-crossfades
    QList<qint64> m_spanJoined;     // joined frame at which each span's first frame lies
    qsizetype m_span = 0;
    qint64 m_inSpan = 0;            // frames of the current span already read
    qint64 m_emitted = 0;
    std::vector<float> m_held;      // the current span's end, waiting for the next span's start
    qint64 m_heldFrom = 0;          // joined frame of m_held's first frame
};
