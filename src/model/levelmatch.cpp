#include "model/levelmatch.h"

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {

bool audible(const std::optional<Loudness> &l) { return l && !l->isSilent(); }

// The most a song may be lifted; a song already over the ceiling may not be lifted at all
// (it is not lowered either when it is too quiet: that would move it further from the target).
double liftAllowed(const Loudness &l)
{
    if (!std::isfinite(l.truePeakDb))
        return 0;
    return std::max(0.0, LevelMatch::PeakCeilingDb - LevelMatch::PeakMarginDb - l.truePeakDb);
}

} // namespace

std::optional<double> LevelMatch::target(const QList<std::optional<Loudness>> &songs)
{
    QList<double> levels;
    for (const auto &l : songs)
        if (audible(l))
            levels.append(l->lufs);
    if (levels.isEmpty())
        return std::nullopt;
    std::sort(levels.begin(), levels.end());
    const qsizetype mid = levels.size() / 2;
    return levels.size() % 2 ? levels[mid] : (levels[mid - 1] + levels[mid]) / 2;
}

LevelMatch::Plan LevelMatch::plan(const QList<std::optional<Loudness>> &songs)
{
    Plan plan;
    plan.targetLufs = target(songs);
    for (const auto &l : songs) {
        Song song;
        if (plan.targetLufs && audible(l)) {
            const double wanted = *plan.targetLufs - l->lufs;
            if (std::abs(wanted) > CloseEnoughLu) {
                song.gainDb = wanted;
                if (wanted > 0 && wanted > liftAllowed(*l)) {
                    song.gainDb = liftAllowed(*l);
                    song.peakLimited = true;
                }
            }
        }
        plan.songs.append(song);
    }
    return plan;
}

int LevelMatch::mp3Steps(double gainDb, const Loudness &loudness)
{
    int steps = int(std::lround(gainDb / Mp3StepDb));
    if (steps > 0 && !loudness.isSilent()) {
        const int allowed = int(std::floor(liftAllowed(loudness) / Mp3StepDb + 1e-9));
        steps = std::min(steps, allowed);
    }
    return steps;
}

QList<int> LevelMatch::jumps(const QList<std::optional<Loudness>> &songs)
{
    QList<int> marks(songs.size(), 0);
    for (qsizetype i = 1; i < songs.size(); ++i) {
        if (!audible(songs[i]) || !audible(songs[i - 1]))
            continue;
        const double change = songs[i]->lufs - songs[i - 1]->lufs;
        if (std::abs(change) > JumpLu)
            marks[i] = change > 0 ? 1 : -1;
    }
    return marks;
}

std::optional<LevelMatch::Spread> LevelMatch::spread(const QList<std::optional<Loudness>> &songs)
{
    std::optional<Spread> s;
    for (const auto &l : songs) {
        if (!audible(l))
            continue;
        if (!s)
            s = Spread{ l->lufs, l->lufs };
        s->quietest = std::min(s->quietest, l->lufs);
        s->loudest = std::max(s->loudest, l->lufs);
    }
    return s;
}

QString LevelMatch::lufsText(double lufs)
{
    // Rounded once, so that -0.04 shows as 0.0 and not as "-0.0".
    const double tenths = std::round(lufs * 10) / 10;
    return QString::number(tenths == 0 ? 0.0 : tenths, 'f', 1);
}
