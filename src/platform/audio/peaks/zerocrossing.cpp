#include "platform/audio/peaks/zerocrossing.h"

#include "platform/audio/audiodecoder.h"

#include <cmath>
#include <vector>

namespace {
// Quieter than this everywhere around the point, there is nothing to cross: a silence.
constexpr float SilenceLevel = 1e-3f;
} // namespace

qint64 ZeroCrossing::snap(const QString &path, qint64 ms, int searchMs)
{
    QString reason;
    const auto decoder = AudioDecoder::open(path, AudioDecoder::Output{ 0, true }, &reason);
    if (!decoder || ms < 0 || searchMs <= 0)
        return ms;
    // The rate is known once the decoder has given its first block.
    std::vector<float> around;
    int rate = 0;
    qint64 first = 0;
    const auto read = [&](qint64 fromFrame, qint64 frames) {
        around.clear();
        if (!decoder->seek(fromFrame))
            return false;
        decoder->run(
            [&](const float *samples, qint64 n) {
                around.insert(around.end(), samples, samples + 2 * n);
                return qint64(around.size()) < 2 * frames;
            },
            nullptr);
        return qint64(around.size()) >= 2 * frames;
    };
    decoder->run([](const float *, qint64) { return false; }, nullptr);
    rate = decoder->outRate();
    if (rate <= 0)
        return ms;
    const qint64 from = std::max<qint64>(0, ms - searchMs);
    first = from * rate / 1000;
    const qint64 frames = (ms + searchMs - from) * rate / 1000 + 2;
    if (!read(first, frames))
        return ms;
    float loudest = 0;
    for (const float s : around)
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
        if (f < 0 || 2 * f + 1 >= qint64(around.size()))
            continue;
        const float l = around[size_t(2 * f)], r = around[size_t(2 * f + 1)];
        const double score = std::abs(l) + std::abs(r) + 1e-6 * double(std::abs(at - ms));
        if (score < bestScore)
            bestScore = score, best = at;
    }
    return best;
}
