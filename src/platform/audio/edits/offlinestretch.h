#pragma once

#include <QString>

#include <functional>
#include <memory>

// Changes the key and the tempo of a whole song with the finer engine of Rubber
// Band in its offline mode, channels together so the stereo image stays. Its
// two passes see the same samples: all of them studied first, then all of them
// processed. The output is exactly `outputFrames` long (the engine's own figure
// may differ by a frame or two; the tail is padded with silence or cut), so a
// song delivered lasts what the set list shows, to the sample.
class OfflineStretch
{
public:
    using Consumer = std::function<bool(const float *samples, qint64 frames)>;

    ~OfflineStretch();
    OfflineStretch(const OfflineStretch &) = delete;
    OfflineStretch &operator=(const OfflineStretch &) = delete;

    // Whether this build can stretch at all.
    [[nodiscard]] static bool available();
    // Why it cannot, worded for the user.
    [[nodiscard]] static QString unavailableReason();

    // Nothing when this build has no stretcher.
    [[nodiscard]] static std::unique_ptr<OfflineStretch> create(int rate, int channels, int semitones,
                                                                qint64 inputFrames, qint64 outputFrames);

    // The first pass: every input frame, in order.
    void study(const float *samples, qint64 frames);
    // The second pass: the same frames again. Output goes to `consumer` as it
    // comes; false when the consumer stopped it.
    bool process(const float *samples, qint64 frames, const Consumer &consumer);
    // After the last frame of the second pass: the rest of the output.
    bool finish(const Consumer &consumer);

private:
    struct Context;
    OfflineStretch();
    bool retrieve(const Consumer &consumer);

    std::unique_ptr<Context> d;
};
