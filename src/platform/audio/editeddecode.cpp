#include "platform/audio/editeddecode.h"

#include "model/songedits.h"

#include <algorithm>
#include <vector>

using namespace Qt::StringLiterals;

bool decodeEdited(AudioDecoder &decoder, const EditPlan &plan, qint64 joinedFrom, const AudioDecoder::Consumer &consumer,
                  QString *reason)
{
    // The decoder knows its channels only once it has decoded a block: one is
    // read and dropped. Where it stands is not known (a player decodes again
    // from a new place with the same decoder): the first span is always moved to.
    if (decoder.outChannels() == 0)
        (void)decoder.run([](const float *, qint64) { return false; }, nullptr);
    qint64 position = -1; // the source frame the decoder stands at
    const int channels = decoder.outChannels();
    if (channels <= 0) {
        if (reason)
            *reason = u"音声が入っていません"_s;
        return false;
    }
    EditJoiner joiner(plan, channels, joinedFrom);
    // What a decoder gives after a jump is not always exactly the song (an MP3
    // lands where its frame estimate puts it), and a span's first frames are
    // half of a crossfade, heard at once: a cut up to a minute long is read
    // through and passed over, which costs little and joins on the very
    // samples; a longer one is jumped over, from a little before the span.
    const qint64 readThrough = qint64(plan.rate()) * 60;
    const qint64 settle = qint64(plan.rate()) / 10;
    const auto readsOn = [&](const EditJoiner::Span &span) {
        return position >= 0 && span.from >= position && span.from - position <= readThrough;
    };
    std::vector<float> out;
    bool stopped = false;
    while (const auto span = joiner.nextSpan()) {
        if (!readsOn(*span)) {
            const qint64 at = std::max<qint64>(0, span->from - settle);
            if (!decoder.seek(at)) {
                if (reason)
                    *reason = u"曲の途中に移れませんでした"_s;
                return false;
            }
            position = at;
        }
        bool jump = false;
        const bool ended = decoder.run(
            [&](const float *samples, qint64 frames) {
                while (frames > 0) {
                    const auto next = joiner.nextSpan();
                    if (!next)
                        return false; // the joined song is complete
                    if (!readsOn(*next)) {
                        jump = true;
                        return false;
                    }
                    // Frames before the span (a cut read through) are passed over.
                    const qint64 skip = std::min(next->from - position, frames);
                    const qint64 taken = skip < frames ? joiner.feed(samples + skip * channels, frames - skip, out) : 0;
                    position += skip + taken;
                    samples += (skip + taken) * channels;
                    frames -= skip + taken;
                    if (!out.empty()) {
                        if (!consumer(out.data(), qint64(out.size()) / channels)) {
                            stopped = true;
                            return false;
                        }
                        out.clear();
                    }
                    if (skip == 0 && taken == 0)
                        break;
                }
                return true;
            },
            reason);
        if (stopped)
            return false;
        if (!joiner.nextSpan() || ended)
            return true; // complete, or the file ends before the plan does
        if (!jump)
            return false; // a decoding error; the reason is set
    }
    return true;
}
