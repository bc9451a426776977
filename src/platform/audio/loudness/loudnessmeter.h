#pragma once

#include "model/loudness.h"

#include <QString>

#include <atomic>
#include <optional>

// Measures a song as BS.1770 hears it: its samples, at the song's own rate
// and channels, straight from the decoder into libebur128. A mono song is
// measured as dual mono, the way it sounds when both speakers play it; so is
// a mono part of a song whose channels change on the way.
class LoudnessMeter
{
public:
    // Nothing when the song cannot be decoded (the reason is set, worded for
    // the user) or when `stop` was raised (the reason stays empty).
    [[nodiscard]] static std::optional<Loudness> measure(const QString &path, QString *reason,
                                                         const std::atomic_bool *stop = nullptr);
};
