#include "model/runthrough.h"

#include <utility>

RunThrough::RunThrough(QList<Song> songs, qint64 pauseMs)
    : m_songs(std::move(songs))
    , m_pauseMs(qMax<qint64>(0, pauseMs))
    , m_phase(m_songs.isEmpty() ? Phase::Done : Phase::Due)
{
}

std::optional<RunThrough::Song> RunThrough::due(qint64 nowMs)
{
    if (m_phase == Phase::Pause && nowMs - m_pauseStart >= m_pauseMs) {
        m_doneMs += m_pauseMs;
        m_phase = Phase::Due;
    }
    if (m_phase != Phase::Due)
        return std::nullopt;
    m_phase = Phase::Playing;
    return m_songs.at(m_index);
}

void RunThrough::ended(qint64 nowMs)
{
    if (m_phase != Phase::Playing)
        return;
    m_doneMs += m_songs.at(m_index).lengthMs;
    moveOn();
    if (m_phase == Phase::Due) {
        m_phase = Phase::Pause;
        m_pauseStart = nowMs;
    }
}

void RunThrough::failed()
{
    if (m_phase != Phase::Playing)
        return;
    m_skipped.append(m_songs.at(m_index).name);
    moveOn();
}

void RunThrough::moveOn()
{
    ++m_index;
    m_phase = m_index < m_songs.size() ? Phase::Due : Phase::Done;
}

std::optional<RunThrough::Song> RunThrough::playing() const
{
    return m_phase == Phase::Playing ? std::optional(m_songs.at(m_index)) : std::nullopt;
}

std::optional<RunThrough::Song> RunThrough::upcoming() const
{
    return m_phase == Phase::Pause ? std::optional(m_songs.at(m_index)) : std::nullopt;
}

qint64 RunThrough::elapsedMs(qint64 nowMs, qint64 positionMs) const
{
    switch (m_phase) {
    case Phase::Playing:
        // A song is counted with its listed length, never beyond it, so the clock
        // agrees with the total however the file's last fraction of a second plays.
        return m_doneMs + qBound<qint64>(0, positionMs, m_songs.at(m_index).lengthMs);
    case Phase::Pause:
        return m_doneMs + qBound<qint64>(0, nowMs - m_pauseStart, m_pauseMs);
    case Phase::Due:
    case Phase::Done:
        break;
    }
    return m_doneMs;
}
