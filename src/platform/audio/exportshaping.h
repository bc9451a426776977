#pragma once

#include "model/exportformat.h"
#include "model/levelmatch.h"

#include <optional>

// Gives each song of an export its conversion for the chosen format and, when
// levels are matched, its gain: the window and the command line export alike.
namespace ExportShaping {

// `levels`, when given, holds the level plan and each song's loudness, in the
// plan's order. Looks at the songs' sizes and lengths, so that the room check
// counts what the converted files will take.
void shape(ExportPlan &plan, ExportFormat::Format format, const std::optional<LevelMatch::Plan> &levels,
           const QList<std::optional<Loudness>> &loudness);

// Whether the song reaches the stick in this format without a lossy encoding:
// the same answer the export acts on, for the set list row to show. Reads an
// edited MP3 whole the first time it is asked about it.
[[nodiscard]] bool staysLossless(const QString &path, const SongEdits &edits, qint64 songMs, ExportFormat::Format format);

} // namespace ExportShaping
