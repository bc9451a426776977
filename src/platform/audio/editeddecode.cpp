#include "platform/audio/editeddecode.h"

#include "model/songedits.h"

#include <vector>

using namespace Qt::StringLiterals;

bool decodeEdited(AudioDecoder &decoder, const EditPlan &plan, qint64 joinedFrom, const AudioDecoder::Consumer &consumer,
                  QString *reason)
{
    EditJoiner joiner(plan, decoder.outChannels(), joinedFrom);
    const int channels = decoder.outChannels();
    std::vector<float> out;
    qint64 position = 0; // the source frame the decoder stands at
    bool stopped = false;
    while (const auto span = joiner.nextSpan()) {
        if (span->from != position) {
            if (!decoder.seek(span->from)) {
                if (reason)
                    *reason = u"曲の途中に移れませんでした"_s;
                return false;
            }
            position = span->from;
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
