#pragma once

#include <cmath>

// How loud a song is as a listener hears it, and the highest its waveform
// reaches between the samples: integrated loudness (LUFS, BS.1770 with its
// gates) and true peak (dBTP). A song that is silence throughout has no
// loudness at all (-infinity), and is left as it is by every plan.
struct Loudness
{
    double lufs = -HUGE_VAL;
    double truePeakDb = -HUGE_VAL;

    [[nodiscard]] bool isSilent() const { return !std::isfinite(lufs); }
    bool operator==(const Loudness &) const = default;
};
