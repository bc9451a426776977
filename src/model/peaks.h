#pragma once

#include <QByteArray>

class EditPlan;

#include <optional>
#include <vector>

// A song's outline for drawing it: for each channel, the lowest and the highest
// sample and the RMS of every FineFrames frames, and of every CoarseFrames frames
// above that (a whole song's overview in a few hundred points). Built in the
// order the song decodes, so a part-built outline draws what is known so far.
// Kept as 16-bit values: about 0.6 MB for five minutes of stereo at 44.1 kHz.
class Peaks
{
public:
    struct Point {
        float min = 0;
        float max = 0;
        float rms = 0;
    };
    static constexpr qint64 FineFrames = 256;
    static constexpr qint64 CoarseFrames = 65536;

    Peaks() = default;
    Peaks(int channels, int rate);

    // Takes the next decoded frames, interleaved.
    void add(const float *samples, qint64 frames);
    // The song has no more: its last, part-filled points count too.
    void finish();

    [[nodiscard]] int channels() const { return m_channels; }
    [[nodiscard]] int rate() const { return m_rate; }
    // Frames taken so far (all of the song once complete).
    [[nodiscard]] qint64 frames() const { return m_frames; }
    [[nodiscard]] bool isComplete() const { return m_complete; }

    // The outline of frames [from, to) of `channel`, as one column of a drawing:
    // from the coarse points when the span holds several of them, else from the
    // fine ones. What is not known yet counts as silence.
    [[nodiscard]] Point span(int channel, qint64 from, qint64 to) const;

    // The song as heard, `count` columns wide, both channels in each: with a
    // plan, the kept parts joined at their cuts, at the tempo's length, the
    // fades' level applied; the plan laid on frames() at rate().
    [[nodiscard]] std::vector<Point> columns(int count, const EditPlan *plan = nullptr) const;
    // Frames [from, to) of the song as it is, `count` columns wide, both channels in each.
    [[nodiscard]] std::vector<Point> rangeColumns(int count, qint64 from, qint64 to) const;

    [[nodiscard]] QByteArray toBytes() const;
    // Nothing for bytes this class did not write, or cut short.
    [[nodiscard]] static std::optional<Peaks> fromBytes(const QByteArray &bytes);

private:
    struct Level {
        qint64 frames = 0;                    // frames a point covers
        std::vector<qint16> points;           // min, max, rms per channel, point after point
        std::vector<float> min, max, squares; // the point being filled, per channel
        qint64 filled = 0;                    // frames in it
    };
    void close(Level &level);
    [[nodiscard]] Point spanOf(const Level &level, int channel, qint64 from, qint64 to) const;

    int m_channels = 0;
    int m_rate = 0;
    qint64 m_frames = 0;
    bool m_complete = false;
    Level m_fine{ FineFrames, {}, {}, {}, {}, 0 };
    Level m_coarse{ CoarseFrames, {}, {}, {}, {}, 0 };
};
