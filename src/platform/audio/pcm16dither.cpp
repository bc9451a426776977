#include "platform/audio/pcm16dither.h"

#include <algorithm>

Pcm16Dither::Pcm16Dither(quint32 seed) : m_state(seed ? seed : 1u)
{
    const auto uniform = [this] { return float(next() >> 8) * (1.0f / 16777216.0f); };
    for (float &n : m_noise)
        n = uniform() - uniform();
}

void Pcm16Dither::convert(const float *in, qint16 *out, qint64 samples)
{
    // Adding and taking away 1.5 x 2^23 rounds a float below 2^22 to the
    // nearest integer, ties to even, in two instructions that vectorize.
    constexpr float Round = 12582912.0f;
    for (qint64 done = 0; done < samples;) {
        const int n = int(std::min<qint64>(samples - done, Block));
        const float *noise = m_noise.data() + next() % (TableSize - Block);
        const float *x = in + done;
        qint16 *y = out + done;
        for (int i = 0; i < n; ++i) {
            // Full scale is 32768 steps, as FFmpeg's own conversion counts it;
            // what lies beyond is clipped. A sample that is not a number is
            // silence, as the other integer formats write it: clipped, it
            // would be a full-scale click. Chosen, not branched, so the loop
            // still vectorizes.
            float s = x[i] * 32768.0f;
            s = s == s ? s : 0.0f;
            s = s < 32767.0f ? s : 32767.0f;
            s = s > -32768.0f ? s : -32768.0f;
            const float step = (s + Round) - Round;
            const float dither = noise[i];
            // The dither is multiplied in rather than chosen, which keeps the loop free of branches.
            float v = (s + dither * float(step != s) + Round) - Round;
            v = v < 32767.0f ? v : 32767.0f;
            v = v > -32768.0f ? v : -32768.0f;
            y[i] = qint16(qint32(v));
        }
        done += n;
    }
}
