#include "platform/audio/peaks/samplewindow.h"

#include "platform/audio/audiodecoder.h"

namespace {

std::unique_ptr<AudioDecoder> opened(const QString &path)
{
    QString reason;
    auto decoder = AudioDecoder::open(path, AudioDecoder::Output{ 0, true }, &reason);
    // The rate is known once the decoder has given its first block.
    if (decoder)
        decoder->run([](const float *, qint64) { return false; }, nullptr);
    return decoder && decoder->outRate() > 0 ? std::move(decoder) : nullptr;
}

} // namespace

SampleWindow::Samples SampleWindow::read(const QString &path, qint64 fromFrame, qint64 frames)
{
    Samples out;
    const auto decoder = opened(path);
    if (!decoder || frames <= 0 || !decoder->seek(qMax<qint64>(0, fromFrame)))
        return out;
    out.rate = decoder->outRate();
    out.from = qMax<qint64>(0, fromFrame);
    out.stereo.reserve(size_t(2 * frames));
    decoder->run(
        [&](const float *samples, qint64 n) {
            out.stereo.insert(out.stereo.end(), samples, samples + 2 * qMin(n, frames - qint64(out.stereo.size() / 2)));
            return qint64(out.stereo.size()) < 2 * frames;
        },
        nullptr);
    return out;
}

int SampleWindow::rateOf(const QString &path)
{
    const auto decoder = opened(path);
    return decoder ? decoder->outRate() : 0;
}
