#include "model/cuesheet.h"

#include <QStringList>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

QString clock(qint64 ms)
{
    const qint64 s = qMax<qint64>(0, ms) / 1000;
    return s >= 3600 ? u"%1:%2:%3"_s.arg(s / 3600).arg(s % 3600 / 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'))
                     : u"%1:%2"_s.arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

qint64 lengthOf(const SetListEntry &entry)
{
    // The length the set list shows, the edits already in it.
    return entry.seconds.value_or(0) * 1000;
}

// Where in the song as played a fade-out runs, from and to: the fade ends at
// the end point, and a tempo change stretches it with the song.
std::optional<std::pair<qint64, qint64>> fadeOut(const SetListEntry &entry)
{
    const SetListRowExtras &x = entry.extras;
    if (x.edits.fadeOutMs <= 0)
        return std::nullopt;
    const SongEdits fitted = x.songMs > 0 ? x.edits.fitted(x.songMs) : x.edits;
    const qint64 end = x.songMs > 0 ? fitted.editedMs(x.songMs) : lengthOf(entry);
    const qint64 fade = fitted.fadeOutMs * 100 / qMax(1, fitted.tempoPercent);
    return std::pair(qMax<qint64>(0, end - fade), end);
}

} // namespace

bool CueSheet::hasCues(const QList<SetListEntry> &entries)
{
    return std::any_of(entries.cbegin(), entries.cend(), [](const SetListEntry &e) {
        return !e.extras.note.trimmed().isEmpty() || e.extras.follows || e.extras.edits.fadeOutMs > 0;
    });
}

QString CueSheet::text(const QString &setName, const QList<SetListEntry> &entries, qint64 pauseMs, std::optional<qint64> slotMs)
{
    QStringList lines;
    lines << u"進行表　%1"_s.arg(setName.isEmpty() ? u"セットリスト"_s : setName);
    qint64 total = 0;
    for (const SetListEntry &e : entries)
        total += lengthOf(e);
    if (!entries.isEmpty())
        total += (entries.size() - 1) * pauseMs;
    QString figures = u"%1 曲　合計 %2（曲間 %3 秒を含む）"_s.arg(entries.size()).arg(clock(total)).arg(pauseMs / 1000);
    if (slotMs)
        figures += u"　持ち時間 %1"_s.arg(clock(*slotMs));
    lines << figures << QString();
    lines << u"番号　曲名　長さ　きっかけ　メモ　フェードアウト"_s;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const SetListEntry &e = entries[i];
        // The first song has no song before it to follow.
        const QString cue = e.extras.follows && i > 0 ? u"前の曲から %1 秒で自動"_s.arg(pauseMs / 1000) : u"GO"_s;
        QString note = e.extras.note.simplified();
        if (note.isEmpty())
            note = u"－"_s;
        QString line = u"%1　%2　%3　%4　%5"_s.arg(i + 1, 2, 10, QLatin1Char('0'))
                           .arg(e.title.isEmpty() ? SetListFile::fileNameOf(e.path) : e.title, clock(lengthOf(e)), cue, note);
        if (const auto fade = fadeOut(e))
            line += u"　F.O. %1〜%2"_s.arg(clock(fade->first), clock(fade->second));
        lines << line;
    }
    return lines.join(u'\n') + u'\n';
}
