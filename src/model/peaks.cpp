#include "model/peaks.h"

#include "model/songedits.h"

#include <QDataStream>
#include <QIODevice>

#include <algorithm>
#include <cmath>

namespace {

const QByteArray Magic = "korvanda-peaks 1";
constexpr int MaxChannels = 32;

qint16 stored(float v)
{
    return qint16(std::lrint(std::clamp(v, -1.0f, 1.0f) * 32767.0f));
}

float value(qint16 v)
{
    return float(v) / 32767.0f;
}

} // namespace

Peaks::Peaks(int channels, int rate) : m_channels(std::clamp(channels, 1, MaxChannels)), m_rate(qMax(1, rate))
{
    for (Level *level : { &m_fine, &m_coarse }) {
        level->min.assign(size_t(m_channels), 0.0f);
        level->max.assign(size_t(m_channels), 0.0f);
        level->squares.assign(size_t(m_channels), 0.0f);
    }
}

void Peaks::add(const float *samples, qint64 frames)
{
    if (m_channels == 0 || m_complete)
        return;
    for (qint64 i = 0; i < frames; ++i) {
        const float *frame = samples + i * m_channels;
        for (Level *level : { &m_fine, &m_coarse }) {
            for (int c = 0; c < m_channels; ++c) {
                const float s = std::isfinite(frame[c]) ? frame[c] : 0.0f;
                const size_t k = size_t(c);
                level->min[k] = level->filled == 0 ? s : std::min(level->min[k], s);
                level->max[k] = level->filled == 0 ? s : std::max(level->max[k], s);
                level->squares[k] = (level->filled == 0 ? 0.0f : level->squares[k]) + s * s;
            }
            if (++level->filled == level->frames)
                close(*level);
        }
    }
    m_frames += qMax<qint64>(0, frames);
}

void Peaks::finish()
{
    for (Level *level : { &m_fine, &m_coarse })
        if (level->filled > 0)
            close(*level);
    m_complete = true;
}

void Peaks::close(Level &level)
{
    for (int c = 0; c < m_channels; ++c) {
        const size_t k = size_t(c);
        level.points.push_back(stored(level.min[k]));
        level.points.push_back(stored(level.max[k]));
        level.points.push_back(stored(std::sqrt(level.squares[k] / float(level.filled))));
    }
    level.filled = 0;
}

Peaks::Point Peaks::span(int channel, qint64 from, qint64 to) const
{
    // Two coarse points or more: the coarse ones tell the column as well, at a
    // 256th of the reading.
    const bool coarse = to - from >= 2 * CoarseFrames;
    return spanOf(coarse ? m_coarse : m_fine, channel, from, to);
}

Peaks::Point Peaks::spanOf(const Level &level, int channel, qint64 from, qint64 to) const
{
    Point p;
    if (channel < 0 || channel >= m_channels || to <= from)
        return p;
    const qint64 count = qint64(level.points.size()) / (3 * m_channels);
    const qint64 first = qMax<qint64>(0, from / level.frames);
    const qint64 last = qMin(count - 1, (to - 1) / level.frames);
    double squares = 0;
    qint64 points = 0;
    for (qint64 i = first; i <= last; ++i, ++points) {
        const qint16 *at = level.points.data() + (i * m_channels + channel) * 3;
        p.min = points == 0 ? value(at[0]) : std::min(p.min, value(at[0]));
        p.max = points == 0 ? value(at[1]) : std::max(p.max, value(at[1]));
        squares += double(value(at[2])) * value(at[2]);
    }
    p.rms = points > 0 ? float(std::sqrt(squares / double(points))) : 0.0f;
    return p;
}

std::vector<Peaks::Point> Peaks::columns(int count, const EditPlan *plan) const
{
    std::vector<Point> out(size_t(qMax(0, count)));
    const qint64 total = plan ? plan->outputFrames() : m_frames;
    if (count <= 0 || total <= 0 || m_channels == 0)
        return out;
    // Both channels of source frames [from, to), into `p`.
    const auto take = [this](Point &p, bool &any, double &squares, int &parts, qint64 from, qint64 to, float gain) {
        for (int c = 0; c < m_channels; ++c) {
            const Point q = span(c, from, to);
            p.min = any ? std::min(p.min, q.min * gain) : q.min * gain;
            p.max = any ? std::max(p.max, q.max * gain) : q.max * gain;
            squares += double(q.rms * gain) * (q.rms * gain);
            ++parts;
            any = true;
        }
    };
    for (int i = 0; i < count; ++i) {
        const qint64 from = total * i / count, to = qMax(from + 1, total * (i + 1) / count);
        Point &p = out[size_t(i)];
        bool any = false;
        double squares = 0;
        int parts = 0;
        if (!plan) {
            take(p, any, squares, parts, from, to, 1.0f);
        } else {
            const qint64 a = plan->joinedOfOutput(from), b = qMax(a + 1, plan->joinedOfOutput(to));
            const float gain = std::max(plan->fadeGain(a), plan->fadeGain(b - 1));
            // Each kept part the column holds, from its own place in the source.
            for (const EditPlan::Range &r : plan->kept()) {
                const qint64 start = plan->joinedFrame(r.from);
                const qint64 lo = qMax(a, start), hi = qMin(b, start + (r.to - r.from));
                if (lo < hi)
                    take(p, any, squares, parts, r.from + (lo - start), r.from + (hi - start), gain);
            }
        }
        p.rms = parts > 0 ? float(std::sqrt(squares / parts)) : 0.0f;
    }
    return out;
}

std::vector<Peaks::Point> Peaks::rangeColumns(int count, qint64 from, qint64 to) const
{
    std::vector<Point> out(size_t(qMax(0, count)));
    if (count <= 0 || to <= from || m_channels == 0)
        return out;
    const double step = double(to - from) / count;
    for (int i = 0; i < count; ++i) {
        const qint64 a = from + qint64(step * i), b = qMax(a + 1, from + qint64(step * (i + 1)));
        Point &p = out[size_t(i)];
        double squares = 0;
        for (int c = 0; c < m_channels; ++c) {
            const Point q = span(c, a, b);
            p.min = c == 0 ? q.min : std::min(p.min, q.min);
            p.max = c == 0 ? q.max : std::max(p.max, q.max);
            squares += double(q.rms) * q.rms;
        }
        p.rms = float(std::sqrt(squares / m_channels));
    }
    return out;
}

QByteArray Peaks::toBytes() const
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out.writeRawData(Magic.constData(), int(Magic.size()));
    out << qint32(m_channels) << qint32(m_rate) << qint64(m_frames) << m_complete;
    for (const Level *level : { &m_fine, &m_coarse }) {
        out << qint64(level->points.size());
        for (const qint16 v : level->points)
            out << v;
    }
    return bytes;
}

std::optional<Peaks> Peaks::fromBytes(const QByteArray &bytes)
{
    if (!bytes.startsWith(Magic))
        return std::nullopt;
    QDataStream in(bytes.mid(Magic.size()));
    in.setVersion(QDataStream::Qt_6_0);
    qint32 channels = 0, rate = 0;
    qint64 frames = 0;
    bool complete = false;
    in >> channels >> rate >> frames >> complete;
    if (in.status() != QDataStream::Ok || channels < 1 || channels > MaxChannels || rate < 1 || frames < 0)
        return std::nullopt;
    Peaks peaks(channels, rate);
    peaks.m_frames = frames;
    peaks.m_complete = complete;
    for (Level *level : { &peaks.m_fine, &peaks.m_coarse }) {
        qint64 count = 0;
        in >> count;
        // As many points as the frames make, no more: a damaged count reads nothing.
        const qint64 expected = (frames + level->frames - 1) / level->frames * 3 * channels;
        if (in.status() != QDataStream::Ok || count < 0 || count > expected || (complete && count != expected))
            return std::nullopt;
        level->points.resize(size_t(count));
        for (qint16 &v : level->points)
            in >> v;
    }
    if (in.status() != QDataStream::Ok)
        return std::nullopt;
    return peaks;
}
