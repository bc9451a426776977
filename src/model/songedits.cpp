#include "model/songedits.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

using namespace Qt::StringLiterals;

namespace {

// Songs longer than this (about a day) are no songs; it keeps every sum and
// product of the arithmetic below far from overflowing.
constexpr qint64 LongestMs = 100'000'000;

qint64 framesOf(double ms, int rate)
{
    return qint64(std::llround(ms * rate / 1000.0));
}

} // namespace

bool SongEdits::isEmpty() const
{
    return startMs == 0 && !endMs && fadeInMs == 0 && fadeOutMs == 0 && cuts.isEmpty() && !stretches();
}

SongEdits SongEdits::fitted(qint64 songMs) const
{
    SongEdits f = *this;
    songMs = std::clamp<qint64>(songMs, 0, LongestMs);
    const qint64 end = std::clamp<qint64>(endMs.value_or(songMs), 0, songMs);
    f.endMs = endMs ? std::optional(end) : std::nullopt;
    f.startMs = std::clamp<qint64>(startMs, 0, end);

    QList<Cut> cutsIn;
    for (Cut c : cuts) {
        c.fromMs = std::clamp(c.fromMs, f.startMs, end);
        c.toMs = std::clamp(c.toMs, f.startMs, end);
        if (c.toMs > c.fromMs)
            cutsIn.append(c);
    }
    std::sort(cutsIn.begin(), cutsIn.end(), [](const Cut &a, const Cut &b) { return a.fromMs < b.fromMs; });
    f.cuts.clear();
    for (const Cut &c : cutsIn) {
        if (!f.cuts.isEmpty() && c.fromMs <= f.cuts.last().toMs)
            f.cuts.last().toMs = std::max(f.cuts.last().toMs, c.toMs);
        else
            f.cuts.append(c);
    }
    // A cut that reaches the start or the end only moves that point: there is
    // nothing on its other side to join.
    if (!f.cuts.isEmpty() && f.cuts.first().fromMs == f.startMs)
        f.startMs = f.cuts.takeFirst().toMs;
    if (!f.cuts.isEmpty() && f.cuts.last().toMs == end)
        f.endMs = f.cuts.takeLast().fromMs;

    qint64 kept = f.endMs.value_or(songMs) - f.startMs;
    for (const Cut &c : f.cuts)
        kept -= c.toMs - c.fromMs;
    f.fadeInMs = std::clamp<qint64>(fadeInMs, 0, kept);
    f.fadeOutMs = std::clamp<qint64>(fadeOutMs, 0, kept);
    f.semitones = std::clamp(semitones, MinSemitones, MaxSemitones);
    f.tempoPercent = std::clamp(tempoPercent, MinTempo, MaxTempo);
    return f;
}

qint64 SongEdits::editedMs(qint64 songMs) const
{
    const SongEdits f = fitted(songMs);
    qint64 kept = f.endMs.value_or(std::clamp<qint64>(songMs, 0, LongestMs)) - f.startMs;
    for (const Cut &c : f.cuts)
        kept -= c.toMs - c.fromMs;
    return qint64(std::llround(double(kept) * 100.0 / f.tempoPercent));
}

QString SongEdits::secondsText(qint64 ms)
{
    return QString::number(double(ms) / 1000.0, 'f', 3);
}

std::optional<qint64> SongEdits::msOfSeconds(QStringView text)
{
    bool ok = false;
    const double seconds = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds < 0 || seconds * 1000.0 > double(LongestMs))
        return std::nullopt;
    return qint64(std::llround(seconds * 1000.0));
}

QString SongEdits::toText() const
{
    QStringList parts;
    if (startMs != 0)
        parts << u"start="_s + secondsText(startMs);
    if (endMs)
        parts << u"end="_s + secondsText(*endMs);
    if (fadeInMs != 0)
        parts << u"fadein="_s + secondsText(fadeInMs);
    if (fadeOutMs != 0)
        parts << u"fadeout="_s + secondsText(fadeOutMs);
    for (const Cut &c : cuts)
        parts << u"cut="_s + secondsText(c.fromMs) + u'-' + secondsText(c.toMs);
    if (semitones != 0)
        parts << u"key="_s + QString::number(semitones);
    if (tempoPercent != 100)
        parts << u"tempo="_s + QString::number(tempoPercent);
    if (stamp)
        parts << u"file="_s + QString::number(stamp->size) + u'@' + QString::number(stamp->modifiedMs);
    return parts.join(u';');
}

std::optional<SongEdits> SongEdits::fromText(QStringView text)
{
    SongEdits edits;
    bool any = false;
    for (QStringView part : text.split(u';')) {
        const qsizetype eq = part.indexOf(u'=');
        if (eq < 0)
            continue;
        const QStringView name = part.left(eq).trimmed();
        const QStringView value = part.mid(eq + 1).trimmed();
        bool ok = false;
        if (name == u"start") {
            if (const auto ms = msOfSeconds(value))
                edits.startMs = *ms, any = true;
        } else if (name == u"end") {
            if (const auto ms = msOfSeconds(value))
                edits.endMs = *ms, any = true;
        } else if (name == u"fadein") {
            if (const auto ms = msOfSeconds(value))
                edits.fadeInMs = *ms, any = true;
        } else if (name == u"fadeout") {
            if (const auto ms = msOfSeconds(value))
                edits.fadeOutMs = *ms, any = true;
        } else if (name == u"cut") {
            const qsizetype dash = value.indexOf(u'-');
            const auto from = msOfSeconds(value.left(dash));
            const auto to = dash > 0 ? msOfSeconds(value.mid(dash + 1)) : std::nullopt;
            if (from && to && *to > *from)
                edits.cuts.append({ *from, *to }), any = true;
        } else if (name == u"key") {
            const int key = value.toInt(&ok);
            if (ok)
                edits.semitones = std::clamp(key, MinSemitones, MaxSemitones), any = true;
        } else if (name == u"tempo") {
            const int tempo = value.toInt(&ok);
            if (ok)
                edits.tempoPercent = std::clamp(tempo, MinTempo, MaxTempo), any = true;
        } else if (name == u"file") {
            const qsizetype at = value.indexOf(u'@');
            bool sizeOk = false;
            const qint64 size = value.left(at).toLongLong(&sizeOk);
            const qint64 modified = at > 0 ? value.mid(at + 1).toLongLong(&ok) : 0;
            if (sizeOk && ok && size >= 0)
                edits.stamp = Stamp{ size, modified };
        }
    }
    // A line that changes nothing heard is no edit, whatever file it names:
    // it is not written again, so it must not be read as one either.
    if (!any || edits.isEmpty())
        return std::nullopt;
    return edits;
}

EditPlan::EditPlan(const SongEdits &edits, qint64 songFrames, int rate)
    : m_rate(std::max(rate, 1))
    , m_songFrames(std::max<qint64>(songFrames, 0))
{
    // Fitted to the song's length rounded up, then every point laid on a frame
    // within the song: the same edits land on the same frames wherever they
    // are laid out at this rate.
    const qint64 songMs = qint64(std::ceil(double(m_songFrames) * 1000.0 / m_rate));
    const SongEdits f = edits.fitted(songMs);
    const auto frame = [this](qint64 ms) { return std::clamp<qint64>(framesOf(double(ms), m_rate), 0, m_songFrames); };
    qint64 from = frame(f.startMs);
    const qint64 end = f.endMs ? frame(*f.endMs) : m_songFrames;
    for (const SongEdits::Cut &c : f.cuts) {
        const qint64 cutFrom = frame(c.fromMs);
        if (cutFrom > from)
            m_kept.append({ from, cutFrom });
        from = std::max(from, frame(c.toMs));
    }
    if (end > from)
        m_kept.append({ from, end });
    qint64 shortest = m_kept.isEmpty() ? 0 : std::numeric_limits<qint64>::max();
    for (const Range &r : m_kept) {
        m_keptStarts.append(m_joined);
        m_joined += r.to - r.from;
        shortest = std::min(shortest, r.to - r.from);
    }
    m_tempo = f.tempoPercent / 100.0;
    m_semitones = f.semitones;
    m_output = qint64(std::llround(double(m_joined) / m_tempo));
    // Laid out in the joined song's time: once stretched by the tempo they
    // last what was set. Each half of a crossfade fits inside the shorter of
    // the ranges it joins.
    m_crossfade = m_kept.size() > 1 ? std::min(2 * (framesOf(SongEdits::CrossfadeMs * m_tempo, m_rate) / 2), 2 * (shortest / 2)) : 0;
    m_fadeIn = std::min(framesOf(double(f.fadeInMs) * m_tempo, m_rate), m_joined);
    m_fadeOut = std::min(framesOf(double(f.fadeOutMs) * m_tempo, m_rate), m_joined);
}

float EditPlan::fadeGain(qint64 joinedFrame) const
{
    double gain = 1.0;
    // Centred on each frame, so a fade of n frames never quite reaches 0 or 1
    // inside itself and the frames on either side of it are untouched.
    if (joinedFrame < m_fadeIn)
        gain *= (double(joinedFrame) + 0.5) / double(m_fadeIn);
    const qint64 fromEnd = m_joined - joinedFrame;
    if (fromEnd <= m_fadeOut)
        gain *= std::max(0.0, (double(fromEnd) - 0.5) / double(m_fadeOut));
    return float(gain);
}

qint64 EditPlan::sourceFrame(qint64 joinedFrame) const
{
    if (m_kept.isEmpty())
        return 0;
    const auto it = std::upper_bound(m_keptStarts.begin(), m_keptStarts.end(), joinedFrame);
    const qsizetype r = std::max<qsizetype>(0, (it - m_keptStarts.begin()) - 1);
    return std::min(m_kept[r].from + std::max<qint64>(0, joinedFrame - m_keptStarts[r]), m_kept.last().to);
}

qint64 EditPlan::joinedFrame(qint64 sourceFrame) const
{
    for (qsizetype r = 0; r < m_kept.size(); ++r) {
        if (sourceFrame < m_kept[r].from)
            return m_keptStarts[r];
        if (sourceFrame < m_kept[r].to)
            return m_keptStarts[r] + sourceFrame - m_kept[r].from;
    }
    return m_joined;
}

qint64 EditPlan::outputFrame(qint64 joinedFrame) const
{
    return std::min(m_output, qint64(std::llround(double(joinedFrame) / m_tempo)));
}

qint64 EditPlan::joinedOfOutput(qint64 outputFrame) const
{
    return std::min(m_joined, qint64(std::llround(double(outputFrame) * m_tempo)));
}

EditJoiner::EditJoiner(const EditPlan &plan, int channels, qint64 joinedFrom)
    : m_plan(plan)
    , m_channels(std::max(channels, 1))
{
    const qint64 half = plan.crossfadeFrames() / 2;
    const QList<EditPlan::Range> &kept = plan.kept();
    qint64 joined = 0;
    for (qsizetype r = 0; r < kept.size(); ++r) {
        const qint64 before = r > 0 ? half : 0;
        const qint64 after = r + 1 < kept.size() ? half : 0;
        m_spans.append({ kept[r].from - before, kept[r].to + after });
        m_spanJoined.append(joined - before);
        joined += kept[r].to - kept[r].from;
    }
    m_emitted = std::clamp<qint64>(joinedFrom, 0, plan.joinedFrames());
    // Start in the first span that holds the starting frame, at that frame: a
    // start inside a crossfade reads the end of the span before it too.
    while (m_span < m_spans.size()
           && m_spanJoined[m_span] + (m_spans[m_span].to - m_spans[m_span].from) <= m_emitted)
        ++m_span;
    if (m_span < m_spans.size())
        m_inSpan = std::max<qint64>(0, m_emitted - m_spanJoined[m_span]);
    m_heldFrom = m_emitted;
}

std::optional<EditJoiner::Span> EditJoiner::nextSpan() const
{
    if (m_span >= m_spans.size() || m_emitted >= m_plan.joinedFrames())
        return std::nullopt;
    return Span{ m_spans[m_span].from + m_inSpan, m_spans[m_span].to };
}

void EditJoiner::emit(qint64 joined, const float *frame, std::vector<float> &out) const
{
    const float gain = m_plan.fadeGain(joined);
    for (int c = 0; c < m_channels; ++c)
        out.push_back(frame[c] * gain);
}

qint64 EditJoiner::feed(const float *source, qint64 frames, std::vector<float> &out)
{
    const qint64 half = m_plan.crossfadeFrames() / 2;
    const qint64 width = 2 * half;
    std::vector<float> mixed(size_t(m_channels), 0.0f);
    qint64 taken = 0;
    while (taken < frames && m_span < m_spans.size()) {
        const qint64 spanLength = m_spans[m_span].to - m_spans[m_span].from;
        const qint64 joined = m_spanJoined[m_span] + m_inSpan;
        const float *frame = source + taken * m_channels;
        const bool hasNext = m_span + 1 < m_spans.size();
        const qint64 nextStart = hasNext ? m_spanJoined[m_span + 1] : std::numeric_limits<qint64>::max();
        if (joined >= m_emitted) {
            if (hasNext && joined >= nextStart) {
                // The end of this span, kept to be mixed with the start of the next.
                if (m_held.empty())
                    m_heldFrom = joined;
                m_held.insert(m_held.end(), frame, frame + m_channels);
            } else if (m_span > 0 && joined < m_spanJoined[m_span] + width) {
                const qint64 d = joined - m_spanJoined[m_span];
                const qint64 heldIndex = joined - m_heldFrom;
                const double p = (double(d) + 0.5) / double(width);
                const float in = float(std::sin(p * std::numbers::pi / 2));
                const float outGain = float(std::cos(p * std::numbers::pi / 2));
                for (int c = 0; c < m_channels; ++c) {
                    const float before = heldIndex >= 0 && size_t(heldIndex) < m_held.size() / size_t(m_channels)
                        ? m_held[size_t(heldIndex * m_channels + c)]
                        : 0.0f;
                    mixed[size_t(c)] = before * outGain + frame[c] * in;
                }
                emit(joined, mixed.data(), out);
                ++m_emitted;
            } else {
                emit(joined, frame, out);
                ++m_emitted;
            }
        }
        ++taken;
        if (++m_inSpan >= spanLength) {
            ++m_span;
            m_inSpan = 0;
            // What follows in `source` is the song after this span, not the
            // next span's start: it is left for the caller to move on.
            break;
        }
        // The join is mixed: what was held for it is done with before this
        // span's own end is held for the next join.
        if (m_span > 0 && m_span < m_spans.size() && m_inSpan == width)
            m_held.clear();
    }
    return taken;
}
