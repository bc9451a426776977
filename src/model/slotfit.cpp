#include "model/slotfit.h"

#include <algorithm>
#include <cmath>

SlotFit SlotFit::propose(const SlotFigures &figures, qint64 shownSeconds, const SongEdits &edits, qint64 songMs,
                         qint64 fadeMs)
{
    SlotFit fit;
    const qint64 over = -figures.leftSeconds().value_or(0);
    if (over <= 0)
        return fit;
    fit.outcome = Outcome::CannotFit;
    const SongEdits now = edits.fitted(songMs);
    const qint64 nowMs = now.editedMs(songMs);
    // Whole seconds, as the total counts them: the song may last exactly its
    // budget, never a part of a second more.
    const qint64 budgetMs = (shownSeconds - over) * 1000;
    if (budgetMs < fadeMs || budgetMs >= nowMs)
        return fit;

    // The source time that, once cuts are passed over and the tempo applied,
    // lasts the budget.
    qint64 remaining = qint64(std::llround(double(budgetMs) * now.tempoPercent / 100.0));
    qint64 at = now.startMs;
    QList<SongEdits::Cut> cutsBefore;
    for (const SongEdits::Cut &c : std::as_const(now.cuts)) {
        if (c.fromMs - at >= remaining)
            break;
        remaining -= c.fromMs - at;
        at = c.toMs;
        cutsBefore.append(c);
    }
    SongEdits proposal = now;
    proposal.stamp = edits.stamp;
    proposal.cuts = cutsBefore;
    proposal.endMs = at + remaining;
    proposal.fadeOutMs = std::max(now.fadeOutMs, fadeMs);
    // The tempo's rounding may leave it a millisecond long.
    while (proposal.editedMs(songMs) > budgetMs && *proposal.endMs > proposal.startMs)
        *proposal.endMs -= 1;
    fit.outcome = Outcome::Proposed;
    fit.edits = proposal.fitted(songMs);
    fit.editedMs = fit.edits.editedMs(songMs);
    fit.shorterMs = nowMs - fit.editedMs;
    return fit;
}
