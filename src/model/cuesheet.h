#pragma once

#include "model/setlistfile.h"

#include <QList>
#include <QString>

#include <optional>

// The 進行表: the set as the PA or the band reads it beside the desk. Per song
// its number, title and length, how it starts (on a GO, or by itself after the
// pause), the note for the PA, and where a fade-out ends; plain text, so any
// venue's computer or phone opens it.
namespace CueSheet {

// Whether the set has anything the stage sheet does not already say: a note,
// a song that follows by itself, a fade-out.
[[nodiscard]] bool hasCues(const QList<SetListEntry> &entries);

// `pauseMs`: the planned pause between songs; `slotMs`: the slot, if set.
[[nodiscard]] QString text(const QString &setName, const QList<SetListEntry> &entries, qint64 pauseMs,
                           std::optional<qint64> slotMs);

} // namespace CueSheet
