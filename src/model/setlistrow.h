#pragma once

#include "model/songedits.h"

#include <QString>

// What a set-list row carries beside its four cells: how the song is shaped for
// this set, the note for the PA or the band, and whether it starts by itself
// after the pause that follows the song before it. It moves with its row.
struct SetListRowExtras
{
    SongEdits edits;
    QString note;
    bool follows = false;
    // The song's own length as last measured, so the edited length can be
    // worked out again whenever the edits change; 0 when not known.
    qint64 songMs = 0;
    // The song file changed since its edits were made: they are kept, and
    // shown as needing a look.
    bool editsStale = false;

    bool operator==(const SetListRowExtras &) const = default;
    [[nodiscard]] bool isEmpty() const { return edits.isEmpty() && note.isEmpty() && !follows; }
};
