#include "model/showrun.h"

#include <QStringList>

#include <algorithm>
#include <utility>

using namespace Qt::StringLiterals;

ShowRun::ShowRun(QList<Song> songs, qint64 pauseMs, std::optional<qint64> slotMs, qsizetype from)
    : m_songs(std::move(songs))
    , m_pauseMs(qMax<qint64>(0, pauseMs))
    , m_slotMs(slotMs)
    , m_index(qBound<qsizetype>(0, from, m_songs.size()))
    , m_planFrom(m_index)
    , m_firstSong(m_index)
{
}

bool ShowRun::goOn(qint64 firstGoMs, qsizetype planFrom, qint64 nowMs)
{
    if (hasStarted() || firstGoMs > nowMs || nowMs - firstGoMs > GoesOnWithinMs)
        return false;
    m_startMs = firstGoMs;
    m_planFrom = qBound<qsizetype>(0, planFrom, m_index);
    return true;
}

ShowRun::Go ShowRun::go(qint64 nowMs, int key, bool autoRepeat)
{
    // A key held down repeats, and a pedal may bounce: only a key let go of
    // fires again, and only after the guard.
    if (autoRepeat || m_held.contains(key))
        return Go::Held;
    m_held.append(key);
    if (m_current >= 0)
        return Go::Playing;
    if (m_index >= m_songs.size())
        return Go::Over;
    if (m_deviceMissing)
        return Go::NoDevice;
    if (m_anyGo && nowMs - m_lastGoMs < GuardMs)
        return Go::TooSoon;
    m_anyGo = true;
    m_lastGoMs = nowMs;
    start(nowMs);
    return Go::Started;
}

void ShowRun::release(int key)
{
    m_held.removeAll(key);
}

void ShowRun::start(qint64 nowMs)
{
    if (!m_startMs)
        m_startMs = nowMs;
    m_current = m_index;
    m_record.append({ m_index, nowMs - *m_startMs, -1, Ending::Played, m_resumeMs });
    ++m_index;
    m_resumeMs = 0;
    m_followFrom = -1;
}

void ShowRun::finish(qint64 endMs, Ending ending)
{
    Played &line = m_record.last();
    line.endMs = endMs - *m_startMs;
    line.ending = ending;
    m_lastEndMs = endMs;
    m_current = -1;
}

ShowRun::Stop ShowRun::stop(qint64 nowMs, qint64 fadeMs)
{
    if (m_current >= 0) {
        m_fading = m_current;
        m_fadingRecord = m_record.size() - 1;
        m_fadeUntil = nowMs + qMax<qint64>(0, fadeMs);
        finish(m_fadeUntil, Ending::Faded);
        return Stop::Fade;
    }
    if (fading(nowMs)) {
        Played &line = m_record[m_fadingRecord];
        line.endMs = nowMs - *m_startMs;
        line.ending = Ending::Cut;
        // The pause after it starts now, unless another song already started.
        if (m_fadingRecord == m_record.size() - 1 && m_current < 0)
            m_lastEndMs = nowMs;
        m_fading = -1;
        return Stop::Cut;
    }
    if (m_followFrom >= 0) {
        m_followFrom = -1;
        return Stop::FollowCancelled;
    }
    return Stop::Nothing;
}

bool ShowRun::back(qint64 nowMs)
{
    // Re-selecting a song that still sounds would start it twice.
    if (m_current >= 0 || fading(nowMs) || m_index == 0)
        return false;
    --m_index;
    // Before the first GO the show simply starts earlier in the set.
    if (!hasStarted()) {
        m_planFrom = qMin(m_planFrom, m_index);
        m_firstSong = qMin(m_firstSong, m_index);
    }
    m_resumeMs = 0;
    m_followFrom = -1;
    return true;
}

void ShowRun::sounded(qint64 atMs)
{
    if (m_current >= 0)
        m_record.last().startMs = atMs - *m_startMs;
}

void ShowRun::ended(qint64 nowMs)
{
    if (m_current < 0)
        return;
    finish(nowMs, Ending::Played);
    if (m_index < m_songs.size() && m_songs.at(m_index).follows)
        m_followFrom = nowMs;
}

void ShowRun::failed(qint64 nowMs)
{
    // The song after one that failed waits for a GO: nobody planned what follows silence.
    if (m_current >= 0)
        finish(nowMs, Ending::Failed);
}

void ShowRun::brokeOff(qint64 nowMs, qint64 positionMs)
{
    if (m_current < 0)
        return;
    m_record.last().brokeAtMs = qMax<qint64>(0, positionMs);
    finish(nowMs, Ending::BrokenOff);
}

void ShowRun::interrupted(qint64 nowMs, qint64 positionMs)
{
    if (m_current < 0)
        return;
    const qsizetype song = m_current;
    finish(nowMs, Ending::Interrupted);
    m_index = song;
    m_resumeMs = qMax<qint64>(0, positionMs);
}

std::optional<ShowRun::Song> ShowRun::due(qint64 nowMs)
{
    if (m_followFrom < 0 || m_current >= 0 || m_deviceMissing || nowMs - m_followFrom < m_pauseMs)
        return std::nullopt;
    start(nowMs);
    return m_songs.at(m_current);
}

std::optional<ShowRun::Song> ShowRun::playing() const
{
    return m_current >= 0 ? std::optional(m_songs.at(m_current)) : std::nullopt;
}

std::optional<ShowRun::Song> ShowRun::selected() const
{
    return m_index < m_songs.size() ? std::optional(m_songs.at(m_index)) : std::nullopt;
}

std::optional<ShowRun::Song> ShowRun::fading(qint64 nowMs) const
{
    return m_fading >= 0 && nowMs < m_fadeUntil ? std::optional(m_songs.at(m_fading)) : std::nullopt;
}

qint64 ShowRun::plannedStartMs(qsizetype index) const
{
    qint64 ms = 0;
    for (qsizetype i = m_planFrom; i < index && i < m_songs.size(); ++i)
        ms += m_songs.at(i).lengthMs + m_pauseMs;
    return ms;
}

ShowRun::Clock ShowRun::clock(qint64 nowMs, qint64 positionMs) const
{
    const qsizetype count = m_songs.size();
    const auto songsFrom = [&](qsizetype first) {
        qint64 ms = 0;
        for (qsizetype i = first; i < count; ++i)
            ms += m_songs.at(i).lengthMs;
        return ms + qMax<qsizetype>(0, count - 1 - first) * m_pauseMs;
    };
    // After the last song the clock stops where the show ended.
    const qint64 elapsed = isOver() && hasStarted() ? qMin(nowMs, m_lastEndMs.value_or(nowMs)) - *m_startMs
                                                    : sinceStart(nowMs);
    qint64 planned = 0;
    qint64 stillPlanned = 0;
    if (m_current >= 0) {
        const qint64 length = m_songs.at(m_current).lengthMs;
        const qint64 at = qBound<qint64>(0, positionMs, length);
        planned = plannedStartMs(m_current) + at;
        stillPlanned = length - at + songsFrom(m_current + 1) + (m_current + 1 < count ? m_pauseMs : 0);
    } else if (!m_startMs) {
        stillPlanned = songsFrom(m_index);
    } else if (m_index >= count) {
        planned = plannedStartMs(count) - m_pauseMs;
    } else {
        // In the pause before the selected song: the plan allows one pause. A
        // show taken up again after a restart has had that pause, and more.
        const qint64 waited = m_lastEndMs ? qBound<qint64>(0, nowMs - *m_lastEndMs, m_pauseMs) : m_pauseMs;
        const qint64 pause = m_index > m_planFrom ? m_pauseMs - waited : 0;
        planned = plannedStartMs(m_index) - pause;
        stillPlanned = pause + songsFrom(m_index);
    }

    Clock c;
    c.behindMs = m_startMs ? elapsed - planned : 0;
    if (m_slotMs) {
        c.slotLeftMs = *m_slotMs - elapsed;
        c.spareMs = *c.slotLeftMs - stillPlanned;
        c.level = *c.slotLeftMs < 0 ? Level::Over
            : *c.slotLeftMs <= RedMs ? Level::Red
            : *c.slotLeftMs <= AmberMs ? Level::Amber
                                       : Level::Normal;
    }
    return c;
}

QString ShowRun::clockText(qint64 ms, bool sign)
{
    const qint64 seconds = (ms < 0 ? -ms : ms) / 1000;
    const QString text = seconds >= 3600
        ? u"%1:%2:%3"_s.arg(seconds / 3600).arg(seconds % 3600 / 60, 2, 10, QLatin1Char('0')).arg(seconds % 60, 2, 10, QLatin1Char('0'))
        : u"%1:%2"_s.arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
    if (ms < 0 && seconds > 0)
        return u'-' + text;
    return sign && seconds > 0 ? u'+' + text : text;
}

QString ShowRun::recordText(qint64 nowMs) const
{
    static const QString endings[] = { QString(), u"  ［フェードアウト］"_s, u"  ［カット］"_s, u"  ［再生できず］"_s,
                                       u"  ［出力先が切れて中断］"_s, u"  ［%1 から先を読めず途切れた］"_s };
    const qsizetype count = m_songs.size();
    const qint64 plannedTotal = count > m_planFrom ? plannedStartMs(count) - m_pauseMs : 0;
    QStringList lines;
    lines << u"本番の記録"_s;
    if (m_firstSong > 0 && m_firstSong < count)
        lines << u"（中断した本番の続き: %1 曲目から）"_s.arg(m_songs.at(m_firstSong).row);
    if (!hasStarted()) {
        lines << u"演奏した曲はありません。"_s;
        return lines.join(u'\n') + u'\n';
    }
    const qint64 lastEnd = m_current >= 0 ? nowMs : m_lastEndMs.value_or(nowMs);
    const qint64 actual = lastEnd - *m_startMs;
    lines << u"予定 %1　実際 %2　差 %3"_s.arg(clockText(plannedTotal), clockText(actual), clockText(actual - plannedTotal, true));
    if (m_slotMs) {
        const qint64 left = *m_slotMs - actual;
        lines << u"持ち時間 %1　%2"_s.arg(clockText(*m_slotMs),
                                          left < 0 ? u"超過 "_s + clockText(-left) : u"残り "_s + clockText(left));
    }
    lines << QString() << u"番号　予定開始　実際開始　終了　　予定の長さ　実際の長さ　曲名"_s;
    qint64 previousEnd = -1;
    for (const Played &p : m_record) {
        if (previousEnd >= 0)
            lines << u"　　　曲間 %1（予定 %2）"_s.arg(clockText(p.startMs - previousEnd), clockText(m_pauseMs));
        const Song &song = m_songs.at(p.index);
        const qint64 end = p.endMs < 0 ? nowMs - *m_startMs : p.endMs;
        QString line = u"%1　　 %2　　 %3　　 %4　 %5　　　 %6　　　 %7"_s.arg(song.row, 2, 10, QLatin1Char('0'))
                           .arg(clockText(plannedStartMs(p.index)), clockText(p.startMs), clockText(end),
                                clockText(song.lengthMs), clockText(end - p.startMs), song.name);
        if (p.fromMs > 0)
            line += u"  ［%1 から］"_s.arg(clockText(p.fromMs));
        const QString ending = p.ending == Ending::BrokenOff ? endings[int(p.ending)].arg(clockText(p.brokeAtMs))
                                                             : endings[int(p.ending)];
        lines << line + (p.endMs < 0 ? u"  ［演奏中］"_s : ending);
        previousEnd = end;
    }
    QStringList unplayed;
    // Those before a restart were played, or skipped, in a show that left no record.
    for (qsizetype i = m_firstSong; i < count; ++i) {
        const bool played = std::any_of(m_record.cbegin(), m_record.cend(), [i](const Played &p) { return p.index == i; });
        if (!played)
            unplayed << m_songs.at(i).name;
    }
    if (!unplayed.isEmpty())
        lines << QString() << u"演奏しなかった曲: "_s + unplayed.join(u"、"_s);
    return lines.join(u'\n') + u'\n';
}
