#include "platform/audio/peaks/zerocrossing.h"

#include "platform/audio/peaks/samplewindow.h"

#include <cmath>

namespace {
// Quieter than this everywhere around the point, there is nothing to cross: a silence.
constexpr float SilenceLevel = 1e-3f;
} // namespace

qint64 ZeroCrossing::snap(const QString &path, qint64 ms, int searchMs)
{
    const int rate = SampleWindow::rateOf(path);
    if (rate <= 0 || ms < 0 || searchMs <= 0)
        return ms;
    const qint64 from = std::max<qint64>(0, ms - searchMs);
    const qint64 first = from * rate / 1000;
    const SampleWindow::Samples around = SampleWindow::read(path, first, (ms + searchMs - from) * rate / 1000 + 2);
    float loudest = 0;
    for (const float s : around.stereo)
        loudest = std::max(loudest, std::abs(s));
    if (loudest < SilenceLevel)
        return ms;
    // Each millisecond's frame as the edits place it (a point is a whole
    // millisecond): the one nearest zero, and of equals the one nearest where
    // it was dropped.
    qint64 best = ms;
    double bestScore = 1e9;
    for (qint64 at = from; at <= ms + searchMs; ++at) {
        const qint64 f = at * rate / 1000 - first;
        if (f < 0 || 2 * f + 1 >= qint64(around.stereo.size()))
            continue;
        const double score = std::abs(around.stereo[size_t(2 * f)]) + std::abs(around.stereo[size_t(2 * f + 1)])
                             + 1e-6 * double(std::abs(at - ms));
        if (score < bestScore)
            bestScore = score, best = at;
    }
    return best;
}
