#pragma once

#include <QString>

#include <optional>

// The play length of a media file in milliseconds, or nothing for anything that is not a
// playable regular file. Reentrant: the scan calls it from several threads at once.
class MediaProbe
{
public:
    // Best is what the program uses; the single-library methods exist so the benchmark can
    // show what each library alone would report.
    enum class Method { Best, TagLibOnly, LibavOnly };

    [[nodiscard]] static std::optional<double> lengthMs(const QString &path, Method method = Method::Best);
};
