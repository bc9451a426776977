#pragma once

#include <QString>

#include <vector>

// A few seconds of a song's samples, as the player decodes them (stereo, the
// song's own rate): for drawing the song closer than its outline goes, and for
// finding a zero crossing. Empty where nothing can be read.
namespace SampleWindow {

struct Samples {
    int rate = 0;
    qint64 from = 0;           // the first frame
    std::vector<float> stereo; // interleaved
};

[[nodiscard]] Samples read(const QString &path, qint64 fromFrame, qint64 frames);
// The song's rate as its decoder gives it; 0 when it cannot be read.
[[nodiscard]] int rateOf(const QString &path);

} // namespace SampleWindow
