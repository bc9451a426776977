#pragma once

#include <QString>

class SongTable;

// Length texts: hours (at least two digits, never wrapped at 24), two-digit
// minutes and two-digit seconds, e.g. "00:03:35" or "100:00:00". Lengths are
// whole seconds; play lengths arrive in milliseconds from the media probe.

// Milliseconds to a length text. Seconds are cut, not rounded, after the
// milliseconds are rounded half to even.
[[nodiscard]] QString FormatLength(double milliseconds);

// The sum of two length texts; minutes and seconds carry into the hours.
[[nodiscard]] QString AddTimes(QString first, QString second);

// Totals column 3 of every data row of the set list, row after row, starting
// from "00:00:00". Leaves the cursor on row Rows()-1, column 3 (untouched when
// the table has no data row).
[[nodiscard]] QString TotalLength(SongTable &setList);
