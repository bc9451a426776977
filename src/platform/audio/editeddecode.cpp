#include "platform/audio/editeddecode.h"

#include "model/songedits.h"

#include <vector>

using namespace Qt::StringLiterals;

bool decodeEdited(AudioDecoder &decoder, const EditPlan &plan, qint64 joinedFrom, const AudioDecoder::Consumer &consumer,
                  QString *reason)
{
    // The decoder knows its channels only once it has decoded a block: one is
    // read and dropped, and the reading then moves to where the plan starts.
    qint64 position = 0; // the source frame the decoder stands at
    if (decoder.outChannels() == 0) {
        (void)decoder.run([](const float *, qint64) { return false; }, nullptr);
        position = -1;
    }
    const int channels = decoder.outChannels();
    if (channels <= 0) {
        if (reason)
            *reason = u"音声が入っていません"_s;
        return false;
    }
    EditJoiner joiner(plan, channels, joinedFrom);
    std::vector<float> out;
    bool stopped = false;
    while (const auto span = joiner.nextSpan()) {
        if (span->from != position) {
            const qint64 at = span->from;
            if (!decoder.seek(at)) {
                if (reason)
                    *reason = u"曲の途中に移れませんでした"_s;
                return false;
            }
            position = at;
        }
        bool spanDone = false;
        const bool ended = decoder.run(
            [&](const float *samples, qint64 frames) {
                position += joiner.feed(samples, frames, out);
                if (!out.empty()) {
                    if (!consumer(out.data(), qint64(out.size()) / channels)) {
                        stopped = true;
                        return false;
                    }
                    out.clear();
                }
                const auto next = joiner.nextSpan();
                spanDone = !next || next->from != position;
                return !spanDone;
            },
            reason);
        if (stopped)
            return false;
        if (ended)
            return true; // the file ends before the plan does
        if (!spanDone)
            return false; // a decoding error; the reason is set
    }
    return true;
}
