#pragma once

#include <QString>

// The folder that keeps the settings files, ending with the platform's separator:
// the folder of the executable, or the per-user configuration folder when the
// program is installed system-wide or its folder is not writable.
[[nodiscard]] QString locateAppFolder();

// Appends the platform's separator unless the folder already ends with one (a
// drive or file system root does).
[[nodiscard]] QString withTrailingSeparator(const QString &folder);
