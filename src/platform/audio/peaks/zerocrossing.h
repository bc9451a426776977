#pragma once

#include <QString>

// Where a handle dragged to `ms` lands when it snaps: the millisecond within
// `searchMs` of it whose frame is nearest zero in both channels (a point is a
// whole millisecond, so the nearest a crossing it can be), so that a start, an
// end or a cut made there begins without a click; `ms` itself over a silence,
// or where nothing can be read. From the player's decode of the milliseconds
// around it.
namespace ZeroCrossing {

[[nodiscard]] qint64 snap(const QString &path, qint64 ms, int searchMs = 10);

} // namespace ZeroCrossing
