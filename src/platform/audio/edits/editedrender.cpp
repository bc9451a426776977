#include "platform/audio/edits/editedrender.h"

#include "platform/audio/edits/offlinestretch.h"

#include <algorithm>
#include <cmath>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// An end point this far before the stated end leaves the song's exact length
// out of the plan: no point of it can fall past the real end.
constexpr double StatedLengthMarginMs = 2000;

} // namespace

std::optional<EditedRender> EditedRender::open(const QString &path, const SongEdits &edits, AudioDecoder::Output output,
                                               QString *reason)
{
    std::unique_ptr<AudioDecoder> probe = AudioDecoder::open(path, output, reason);
    if (!probe)
        return std::nullopt;
    EditedRender r;
    r.m_path = path;
    r.m_output = output;
    r.m_stored = probe->stored();
    r.m_tags = probe->tags();
    r.m_artist = probe->artist();
    r.m_mask = probe->sourceChannelMask();
    const double statedMs = probe->statedLengthMs();
    const bool exactNeeded = !edits.endMs || double(*edits.endMs) + StatedLengthMarginMs > statedMs;
    qint64 counted = 0;
    QString why;
    // Counted to the last frame where the plan depends on it; otherwise the
    // first block tells the rate and the channels.
    const bool ended = probe->run(
        [&](const float *, qint64 frames) {
            counted += frames;
            return exactNeeded;
        },
        &why);
    if ((!ended && !why.isEmpty()) || counted == 0) {
        if (reason)
            *reason = why.isEmpty() ? u"音声が入っていません"_s : why;
        return std::nullopt;
    }
    r.m_rate = probe->outRate();
    r.m_channels = probe->outChannels();
    const qint64 songFrames = exactNeeded ? counted : qint64(std::llround(statedMs * r.m_rate / 1000.0));
    r.m_plan = std::make_shared<EditPlan>(edits, songFrames, r.m_rate);
    if ((r.m_plan->semitones() != 0 || r.m_plan->tempo() != 1.0) && !OfflineStretch::available()) {
        if (reason)
            *reason = OfflineStretch::unavailableReason();
        return std::nullopt;
    }
    return r;
}

bool EditedRender::joinedPass(const AudioDecoder::Consumer &consumer, const std::atomic_bool *abort, QString *reason) const
{
    std::unique_ptr<AudioDecoder> decoder = AudioDecoder::open(m_path, m_output, reason);
    if (!decoder)
        return false;
    const EditPlan &plan = *m_plan;
    const int ch = m_channels;
    EditJoiner joiner(plan, ch);
    // The source just read, for a span that starts before the block at hand:
    // the two sides of a join overlap by the crossfade.
    const qint64 historyFrames = plan.crossfadeFrames() + 1;
    std::vector<float> history;
    qint64 historyFrom = 0;
    qint64 position = 0; // the source frame of the block's first sample
    std::vector<float> out;
    bool stopped = false;
    bool complete = false;
    const bool decoded = decoder->run(
        [&](const float *samples, qint64 frames) {
            if ((abort && *abort) || decoder->outChannels() != ch) {
                stopped = true;
                return false;
            }
            const qint64 end = position + frames;
            while (const auto span = joiner.nextSpan()) {
                if (span->from >= end)
                    break;
                if (span->from >= position) {
                    joiner.feed(samples + (span->from - position) * ch, end - span->from, out);
                } else if (span->from >= historyFrom) {
                    joiner.feed(history.data() + (span->from - historyFrom) * ch, position - span->from, out);
                } else {
                    // Never the case with the plan's spans; stops rather than loops.
                    break;
                }
            }
            complete = !joiner.nextSpan();
            if (!out.empty()) {
                if (!consumer(out.data(), qint64(out.size()) / ch)) {
                    stopped = true;
                    return false;
                }
                out.clear();
            }
            history.insert(history.end(), samples, samples + frames * ch);
            const qint64 held = qint64(history.size()) / ch;
            if (held > historyFrames) {
                history.erase(history.begin(), history.begin() + (held - historyFrames) * ch);
                historyFrom = end - historyFrames;
            }
            position = end;
            return !complete;
        },
        reason);
    if (stopped || (!decoded && !complete))
        return false;
    // A file shorter than measured: the rest of the plan is silence, so the
    // song still lasts what the set list shows.
    const qint64 missing = plan.joinedFrames() - joiner.position();
    if (missing > 0) {
        const std::vector<float> silence(size_t(missing * ch), 0.0f);
        return consumer(silence.data(), missing);
    }
    return true;
}

bool EditedRender::run(const AudioDecoder::Consumer &consumer, const std::atomic_bool *abort, QString *reason) const
{
    const EditPlan &plan = *m_plan;
    if (plan.joinedFrames() == 0)
        return true;
    if (plan.semitones() == 0 && plan.tempo() == 1.0)
        return joinedPass(consumer, abort, reason);
    std::unique_ptr<OfflineStretch> stretch
        = OfflineStretch::create(m_rate, m_channels, plan.semitones(), plan.joinedFrames(), plan.outputFrames());
    if (!stretch) {
        if (reason)
            *reason = OfflineStretch::unavailableReason();
        return false;
    }
    const bool studied = joinedPass(
        [&](const float *samples, qint64 frames) {
            stretch->study(samples, frames);
            return true;
        },
        abort, reason);
    if (!studied)
        return false;
    bool stopped = false;
    const auto deliver = [&](const float *samples, qint64 frames) {
        if ((abort && *abort) || !consumer(samples, frames)) {
            stopped = true;
            return false;
        }
        return true;
    };
    const bool processed = joinedPass(
        [&](const float *samples, qint64 frames) { return stretch->process(samples, frames, deliver); }, abort, reason);
    if (!processed || stopped)
        return false;
    return stretch->finish(deliver);
}
