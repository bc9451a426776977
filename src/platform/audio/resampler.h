#pragma once

#include <vector>

struct AVFrame;
struct SwrContext;

// Turns decoded frames of any sample format, rate and channel layout into
// interleaved float samples at one rate, as stereo or in the source's own
// channels. Floats all the way, so nothing is rounded before the last step.
// What comes out keeps one rate and one layout for the whole song, even when
// the frames change theirs on the way (MP3s joined end to end): whoever takes
// the samples counts them by that layout.
class Resampler
{
public:
    // outRate 0 keeps the rate the source starts with; stereo false keeps the
    // channels it starts with.
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
    unsigned long long m_outMask = 0;   // of the layout kept; 0: the usual one for the count
    int m_inRate = 0;
    int m_inFormat = -1;
    int m_inChannels = 0;
    unsigned long long m_inMask = 0;
};
