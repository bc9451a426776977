#include "platform/audio/audiblebounds.h"

#include "platform/audio/audiodecoder.h"

#include <cmath>

using namespace Qt::StringLiterals;

std::optional<AudibleBounds> AudibleBounds::find(const QString &path, double thresholdDb, QString *reason)
{
    const auto decoder = AudioDecoder::open(path, AudioDecoder::Output{ 0, false }, reason);
    if (!decoder)
        return std::nullopt;
    const float threshold = float(std::pow(10.0, thresholdDb / 20.0));
    qint64 frame = 0, first = -1, last = -1;
    int channels = 0;
    const bool ended = decoder->run(
        [&](const float *samples, qint64 frames) {
            channels = decoder->outChannels();
            for (qint64 i = 0; i < frames * channels; ++i) {
                if (std::abs(samples[i]) > threshold) {
                    const qint64 at = frame + i / channels;
                    if (first < 0)
                        first = at;
                    last = at;
                }
            }
            frame += frames;
            return true;
        },
        reason);
    if (!ended)
        return std::nullopt;
    const int rate = decoder->outRate();
    if (first < 0 || rate <= 0) {
        if (reason)
            *reason = u"音が聞こえるところがありません"_s;
        return std::nullopt;
    }
    // The silence ends just before the first sample heard and starts just after the last.
    return AudibleBounds{ first * 1000 / rate, ((last + 1) * 1000 + rate - 1) / rate };
}
