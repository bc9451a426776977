#pragma once

#include <QString>

#include <optional>

// Where a song is heard: its first and last sample above `thresholdDb` (dBFS,
// any channel), as milliseconds from its start, found by decoding it whole;
// what lies outside is the silence at its head and its tail. Nothing when the
// song cannot be decoded (the reason set) or is silent throughout.
struct AudibleBounds
{
    qint64 firstMs = 0;
    qint64 lastMs = 0;

    [[nodiscard]] static std::optional<AudibleBounds> find(const QString &path, double thresholdDb, QString *reason);
};
