#include "platform/audio/edits/offlinestretch.h"

#ifdef KORVANDA_HAS_RUBBERBAND
#include <rubberband/RubberBandStretcher.h>
#endif

#include <algorithm>
#include <cmath>
#include <vector>

using namespace Qt::StringLiterals;

namespace {
// Frames handed to the engine at a time: its buffers are sized for this once.
constexpr qint64 StretchBlock = 4096;
} // namespace

struct OfflineStretch::Context
{
#ifdef KORVANDA_HAS_RUBBERBAND
    std::unique_ptr<RubberBand::RubberBandStretcher> engine;
#endif
    int channels = 2;
    qint64 inputFrames = 0;
    qint64 outputFrames = 0;
    qint64 studied = 0;
    qint64 processed = 0;
    qint64 delivered = 0;
    std::vector<std::vector<float>> planes;
    std::vector<float> interleaved;

    // The interleaved frames as the engine takes them, one plane a channel.
    std::vector<const float *> split(const float *samples, qint64 frames)
    {
        std::vector<const float *> pointers;
        for (int c = 0; c < channels; ++c) {
            std::vector<float> &plane = planes[size_t(c)];
            plane.resize(size_t(frames));
            for (qint64 i = 0; i < frames; ++i)
                plane[size_t(i)] = samples[i * channels + c];
            pointers.push_back(plane.data());
        }
        return pointers;
    }

    // Hands on output up to the exact length and no further.
    bool deliver(const float *samples, qint64 frames, const Consumer &consumer)
    {
        frames = std::min(frames, outputFrames - delivered);
        if (frames <= 0)
            return true;
        delivered += frames;
        return consumer(samples, frames);
    }
};

OfflineStretch::OfflineStretch() : d(std::make_unique<Context>())
{
}

OfflineStretch::~OfflineStretch() = default;

bool OfflineStretch::available()
{
#ifdef KORVANDA_HAS_RUBBERBAND
    return true;
#else
    return false;
#endif
}

QString OfflineStretch::unavailableReason()
{
    return u"このビルドではキーとテンポを変えられません（Rubber Band がありません）"_s;
}

std::unique_ptr<OfflineStretch> OfflineStretch::create(int rate, int channels, int semitones, qint64 inputFrames,
                                                       qint64 outputFrames)
{
#ifdef KORVANDA_HAS_RUBBERBAND
    if (rate <= 0 || channels <= 0 || inputFrames <= 0 || outputFrames <= 0)
        return nullptr;
    std::unique_ptr<OfflineStretch> s(new OfflineStretch);
    Context &c = *s->d;
    c.channels = channels;
    c.inputFrames = inputFrames;
    c.outputFrames = outputFrames;
    c.planes.resize(size_t(channels));
    using RB = RubberBand::RubberBandStretcher;
    // Songs are rendered side by side, one thread each: the engine keeps to its own.
    const RB::Options options = RB::OptionProcessOffline | RB::OptionEngineFiner | RB::OptionChannelsTogether
                                | RB::OptionThreadingNever;
    // The ratio of the exact lengths, so the engine's own rounding is at most a frame.
    c.engine = std::make_unique<RB>(size_t(rate), size_t(channels), options, double(outputFrames) / double(inputFrames),
                                    std::pow(2.0, semitones / 12.0));
    c.engine->setExpectedInputDuration(size_t(inputFrames));
    c.engine->setMaxProcessSize(size_t(StretchBlock));
    return s;
#else
    (void)rate, (void)channels, (void)semitones, (void)inputFrames, (void)outputFrames;
    return nullptr;
#endif
}

void OfflineStretch::study(const float *samples, qint64 frames)
{
#ifdef KORVANDA_HAS_RUBBERBAND
    Context &c = *d;
    for (qint64 at = 0; at < frames && c.studied < c.inputFrames;) {
        const qint64 n = std::min({ StretchBlock, frames - at, c.inputFrames - c.studied });
        const std::vector<const float *> planes = c.split(samples + at * c.channels, n);
        c.studied += n;
        c.engine->study(planes.data(), size_t(n), c.studied >= c.inputFrames);
        at += n;
    }
#else
    (void)samples, (void)frames;
#endif
}

bool OfflineStretch::process(const float *samples, qint64 frames, const Consumer &consumer)
{
#ifdef KORVANDA_HAS_RUBBERBAND
    Context &c = *d;
    // The study pass must have ended with its last block, even for a song
    // that ended early.
    if (c.processed == 0 && c.studied < c.inputFrames) {
        const std::vector<float> silence(size_t(StretchBlock * c.channels), 0.0f);
        while (c.studied < c.inputFrames)
            study(silence.data(), std::min(StretchBlock, c.inputFrames - c.studied));
    }
    for (qint64 at = 0; at < frames && c.processed < c.inputFrames;) {
        const qint64 n = std::min({ StretchBlock, frames - at, c.inputFrames - c.processed });
        const std::vector<const float *> planes = c.split(samples + at * c.channels, n);
        c.processed += n;
        c.engine->process(planes.data(), size_t(n), c.processed >= c.inputFrames);
        at += n;
        if (!retrieve(consumer))
            return false;
    }
    return true;
#else
    (void)samples, (void)frames, (void)consumer;
    return false;
#endif
}

bool OfflineStretch::retrieve(const Consumer &consumer)
{
#ifdef KORVANDA_HAS_RUBBERBAND
    Context &c = *d;
    for (;;) {
        const int ready = c.engine->available();
        if (ready <= 0)
            return true;
        const qint64 n = std::min<qint64>(ready, StretchBlock);
        std::vector<float *> pointers;
        for (std::vector<float> &plane : c.planes) {
            plane.resize(size_t(n));
            pointers.push_back(plane.data());
        }
        const qint64 got = qint64(c.engine->retrieve(pointers.data(), size_t(n)));
        if (got <= 0)
            return true;
        c.interleaved.resize(size_t(got * c.channels));
        for (qint64 i = 0; i < got; ++i)
            for (int ch = 0; ch < c.channels; ++ch)
                c.interleaved[size_t(i * c.channels + ch)] = c.planes[size_t(ch)][size_t(i)];
        if (!c.deliver(c.interleaved.data(), got, consumer))
            return false;
    }
#else
    (void)consumer;
    return false;
#endif
}

bool OfflineStretch::finish(const Consumer &consumer)
{
    Context &c = *d;
    // A song that ended before its measured length is finished in silence, so
    // the engine still sees its last block.
    std::vector<float> silence(size_t(StretchBlock * c.channels), 0.0f);
    while (c.processed < c.inputFrames)
        if (!process(silence.data(), std::min(StretchBlock, c.inputFrames - c.processed), consumer))
            return false;
    if (!retrieve(consumer))
        return false;
    // The engine's length may fall a frame or so short of the exact one.
    while (c.delivered < c.outputFrames)
        if (!c.deliver(silence.data(), std::min(StretchBlock, c.outputFrames - c.delivered), consumer))
            return false;
    return true;
}
