#pragma once

#include "model/slotfigures.h"
#include "model/songedits.h"

// The least change that makes a set running over its slot fit: one song (the
// set's last, or the one the performer picks) ends earlier with a fade-out, at
// the point that brings the set's total down to the slot. Nothing else in the
// set moves, and the song keeps its start, key, tempo and the cuts before the
// new end.
struct SlotFit
{
    enum class Outcome { Fits, Proposed, CannotFit };

    Outcome outcome = Outcome::Fits;
    SongEdits edits;      // with the new end and fade, when proposed
    qint64 editedMs = 0;  // the song's length with them
    qint64 shorterMs = 0; // how much shorter it becomes

    static constexpr qint64 FadeMs = 5000;

    // `figures`: the set as the window counts it, with the song in it at
    // `shownSeconds` (its length cell); `edits` and `songMs`: the song's edits
    // and its measured length. The song ends so that, shown as the set list
    // shows lengths, the planned set is exactly the slot or just under it. A
    // song too short to take the whole excess, with its fade, cannot fit it.
    [[nodiscard]] static SlotFit propose(const SlotFigures &figures, qint64 shownSeconds, const SongEdits &edits,
                                         qint64 songMs, qint64 fadeMs = FadeMs);
};
