#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// A run-through of the set: its songs one after another, each followed by the
// pause between songs in silence (none after the last), and the set's clock as
// the slot counts it. A song counts with the length the set list shows for it,
// so a whole run-through ends on the set list's total plus its pauses; a song
// that cannot be played is skipped, counts nothing and brings no pause of its own.
//
// Time comes in from the caller as milliseconds since the run started, so the
// sequence is the same whatever clock drives it.
class RunThrough
{
public:
    struct Song
    {
        int row = 0;
        QString path;
        QString name;
        qint64 lengthMs = 0;
    };

    RunThrough(QList<Song> songs, qint64 pauseMs);

    // The song to start now, if one is due: the first at once, the next when the
    // pause after a song is over, or at once after a skipped song.
    [[nodiscard]] std::optional<Song> due(qint64 nowMs);
    // The song started last has played to its end.
    void ended(qint64 nowMs);
    // The song started last could not be played.
    void failed();

    // The song playing, if one is.
    [[nodiscard]] std::optional<Song> playing() const;
    // The song to start next, while the pause before it runs: the one worth
    // preparing now so that it starts at once.
    [[nodiscard]] std::optional<Song> upcoming() const;
    [[nodiscard]] bool isDone() const { return m_phase == Phase::Done; }
    [[nodiscard]] QStringList skipped() const { return m_skipped; }
    // The set's time so far: the songs and pauses done, and the song (at its
    // position) or the pause under way.
    [[nodiscard]] qint64 elapsedMs(qint64 nowMs, qint64 positionMs) const;

private:
    enum class Phase { Due, Playing, Pause, Done };

    void moveOn();

    QList<Song> m_songs;
    qint64 m_pauseMs;
    qsizetype m_index = 0;
    Phase m_phase;
    qint64 m_pauseStart = 0;
    qint64 m_doneMs = 0;
    QStringList m_skipped;
};
