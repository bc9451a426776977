#pragma once

#include <QtGlobal>

#include <array>

// The last step of the audio path: float samples to 16-bit ones. A sample
// that falls between two 16-bit steps gets triangular dither, so quiet fades
// keep their shape instead of turning into a rough staircase; a sample that
// already is a 16-bit step (a CD-quality WAV, digital silence) is kept
// exactly. Each song has its own generator, so the result does not depend on
// which thread decoded it.
class Pcm16Dither
{
public:
    explicit Pcm16Dither(quint32 seed = 0x9e3779b9u);

    void convert(const float *in, qint16 *out, qint64 samples);

private:
    static constexpr int Block = 1024;
    static constexpr int TableSize = 8 * Block;

    quint32 next()
    {
        // xorshift32: fast and good enough for noise one step high.
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return m_state;
    }

    quint32 m_state;
    // Triangular noise, read from a random place for every block: drawing it
    // sample by sample cost a quarter of the whole decode.
    std::array<float, TableSize> m_noise{};
};
