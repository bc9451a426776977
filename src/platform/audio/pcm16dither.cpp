#include "platform/audio/pcm16dither.h"

#include <cmath>

void Pcm16Dither::convert(const float *in, qint16 *out, qint64 samples)
{
    for (qint64 i = 0; i < samples; ++i) {
        // Full scale is 32768 steps, as FFmpeg's own conversion counts it.
        const float scaled = in[i] * 32768.0f;
        float value = std::nearbyint(scaled);
        if (value != scaled)
            value = std::nearbyint(scaled + nextUniform() - nextUniform());
        if (!(value >= -32768.0f)) // below full scale, or not a number at all
            value = std::isnan(value) ? 0.0f : -32768.0f;
        out[i] = qint16(value >= 32767.0f ? 32767.0f : value);
    }
}
