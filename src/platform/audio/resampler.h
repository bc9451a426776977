#pragma once

#include <vector>

struct AVFrame;
struct SwrContext;

// Turns decoded frames of any sample format, rate and channel layout into
// interleaved float samples at one rate, as stereo or in the source's own
// channels. Floats all the way, so nothing is rounded before the last step.
class Resampler
{
public:
    // outRate 0 keeps the source's rate; stereo false keeps its channels.
    Resampler(int outRate, bool stereo);
    ~Resampler();
    Resampler(const Resampler &) = delete;
    Resampler &operator=(const Resampler &) = delete;

    // Converts one decoded frame (nullptr drains what the filter still holds)
    // and appends the result to `out`. False when the conversion cannot be set up.
    bool convert(const AVFrame *frame, std::vector<float> &out);

    [[nodiscard]] int outRate() const { return m_outRate; }
    [[nodiscard]] int outChannels() const { return m_outChannels; }

private:
    bool setUp(const AVFrame *frame);

    SwrContext *m_swr = nullptr;
    int m_wantedRate;
    bool m_stereo;
    int m_outRate = 0;
    int m_outChannels = 0;
    int m_inRate = 0;
    int m_inFormat = -1;
    int m_inChannels = 0;
    unsigned long long m_inMask = 0;
};
