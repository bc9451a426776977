#pragma once

#include "model/loudness.h"

#include <QList>
#include <QString>

#include <optional>

// Which gain brings each song of a set to one level, and what the set list
// shows about its levels. Only a gain per song: no limiter and no compression,
// so each song keeps its own dynamics; a song that would clip on the way up is
// lifted only as far as its true peak allows.
class LevelMatch
{
public:
    // The highest true peak a lifted song may reach: headroom for the
    // converters of the venue's player and the lossy formats' overshoot.
    static constexpr double PeakCeilingDb = -1.0;
    // A lift stops this far below the ceiling: another meter reads the same
    // peak up to a few tenths higher (its oversampling filter differs), and the
    // 16-bit step and a lossy encoder add their own overshoot.
    static constexpr double PeakMarginDb = 0.3;
    // Songs this close to the target are left exactly as they are: the
    // difference is not heard, and an untouched song is a byte-exact copy.
    static constexpr double CloseEnoughLu = 0.5;
    // A jump the PA hears on the first bar of a song.
    static constexpr double JumpLu = 3.0;
    // The step of an MP3 frame's global gain: 2^(1/4) in amplitude.
    static constexpr double Mp3StepDb = 1.5051499783199060;

    struct Song {
        double gainDb = 0;
        // It could not reach the target without its true peak going above the ceiling.
        bool peakLimited = false;
    };
    struct Plan {
        std::optional<double> targetLufs; // none when no song has a loudness
        QList<Song> songs;                // one per song, in set order
    };

    // The set's target is the median loudness of the songs that have one
    // (unmeasurable and silent songs are left out, and left as they are).
    [[nodiscard]] static std::optional<double> target(const QList<std::optional<Loudness>> &songs);
    [[nodiscard]] static Plan plan(const QList<std::optional<Loudness>> &songs);

    // The gain in whole MP3 steps nearest to `gainDb` that keeps the song's
    // true peak within the ceiling, when it is lifted at all.
    [[nodiscard]] static int mp3Steps(double gainDb, const Loudness &loudness);

    // Per song: +1 where it is louder than the song before it by more than
    // JumpLu, -1 where it is that much quieter, 0 otherwise (or unknown).
    [[nodiscard]] static QList<int> jumps(const QList<std::optional<Loudness>> &songs);

    // The quietest and the loudest song; none when fewer than one is measured.
    struct Spread {
        double quietest = 0;
        double loudest = 0;
    };
    [[nodiscard]] static std::optional<Spread> spread(const QList<std::optional<Loudness>> &songs);

    // "-14.2": one decimal, as the set list shows it.
    [[nodiscard]] static QString lufsText(double lufs);
};
