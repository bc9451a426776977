#include "platform/audio/player/realtimestretch.h"

#include <algorithm>
#include <atomic>
#include <cmath>

using namespace Qt::StringLiterals;

#ifdef KORVANDA_HAS_RUBBERBAND
#include <rubberband/RubberBandStretcher.h>

namespace {
// Blocks handed to the stretcher at a time: it is told the largest beforehand.
constexpr long RealtimeBlock = 1024;
} // namespace

struct RealtimeStretch::Engine
{
    RubberBand::RubberBandStretcher stretcher;
    std::vector<std::vector<float>> in, out;
    long toDrop = 0; // the stretcher's delay still to be taken off the output

    Engine(int rate, int channels, int semitones, double tempo)
        : stretcher(size_t(rate), size_t(channels),
                    // Real time, with the faster engine and its cheaper way of
                    // shifting a pitch that never changes: enough to judge a key or
                    // a tempo while listening, and quick to start; the export
                    // renders with the finer engine.
                    RubberBand::RubberBandStretcher::OptionProcessRealTime
                        | RubberBand::RubberBandStretcher::OptionEngineFaster
                        | RubberBand::RubberBandStretcher::OptionPitchHighSpeed
                        | RubberBand::RubberBandStretcher::OptionChannelsTogether,
                    1.0 / tempo, std::pow(2.0, semitones / 12.0))
        , in(size_t(channels), std::vector<float>(size_t(RealtimeBlock)))
        , out(size_t(channels))
    {
        stretcher.setMaxProcessSize(size_t(RealtimeBlock));
    }

    void start()
    {
        // Padded at the start as the stretcher asks, and its delay dropped from
        // what comes out, so that output and input line up from the first frame.
        const long pad = long(stretcher.getPreferredStartPad());
        toDrop = long(stretcher.getStartDelay());
        for (auto &c : in)
            std::fill(c.begin(), c.end(), 0.0f);
        for (long done = 0; done < pad;) {
            const long n = std::min(RealtimeBlock, pad - done);
            feed(n, false, nullptr);
            done += n;
        }
    }

    void feed(long frames, bool last, std::vector<float> *into)
    {
        std::vector<const float *> ptrs;
        for (const auto &c : in)
            ptrs.push_back(c.data());
        stretcher.process(ptrs.data(), size_t(frames), last);
        drain(into);
    }

    void drain(std::vector<float> *into)
    {
        for (;;) {
            const int ready = stretcher.available();
            if (ready <= 0)
                return;
            std::vector<float *> ptrs;
            for (auto &c : out) {
                c.resize(size_t(ready));
                ptrs.push_back(c.data());
            }
            const long got = long(stretcher.retrieve(ptrs.data(), size_t(ready)));
            const long skip = std::min(got, toDrop);
            toDrop -= skip;
            if (!into)
                continue;
            const size_t channels = out.size();
            for (long i = skip; i < got; ++i)
                for (size_t ch = 0; ch < channels; ++ch)
                    into->push_back(out[ch][size_t(i)]);
        }
    }
};

RealtimeStretch::RealtimeStretch(int rate, int channels, int semitones, double tempo)
    : d(std::make_unique<Engine>(rate, channels, semitones, tempo))
    , m_channels(channels)
{
    d->start();
}

RealtimeStretch::~RealtimeStretch() = default;

bool RealtimeStretch::compiledIn()
{
    return true;
}

void RealtimeStretch::process(const float *in, long frames, bool last, std::vector<float> &out)
{
    do {
        const long n = std::min(RealtimeBlock, frames);
        for (long i = 0; i < n; ++i)
            for (int ch = 0; ch < m_channels; ++ch)
                d->in[size_t(ch)][size_t(i)] = in[i * m_channels + ch];
        frames -= n;
        if (n > 0)
            in += n * m_channels;
        d->feed(n, last && frames == 0, &out);
    } while (frames > 0);
}

void RealtimeStretch::reset()
{
    d->stretcher.reset();
    d->start();
}

#else

struct RealtimeStretch::Engine
{
};

RealtimeStretch::RealtimeStretch(int, int channels, int, double) : m_channels(channels) {}

RealtimeStretch::~RealtimeStretch() = default;

bool RealtimeStretch::compiledIn()
{
    return false;
}

// Without the library the song passes unchanged: heard in its own key and tempo
// rather than not at all.
void RealtimeStretch::process(const float *in, long frames, bool, std::vector<float> &out)
{
    out.insert(out.end(), in, in + frames * m_channels);
}

void RealtimeStretch::reset() {}

#endif

namespace {
std::atomic_bool pretendingMissing = false;
}

bool RealtimeStretch::available()
{
    return compiledIn() && !pretendingMissing.load(std::memory_order_relaxed);
}

void RealtimeStretch::pretendMissing(bool missing)
{
    pretendingMissing.store(missing);
}

QString RealtimeStretch::unheardReason(const SongEdits &edits)
{
    if (!edits.stretches() || available())
        return {};
    return u"キーとテンポの変更は聞こえません（このビルドには Rubber Band がありません）"_s;
}
