#pragma once

#include <QList>
#include <QString>

#include <optional>

// The show as the performer runs it: one GO per song, each song stopping at its
// end with the next one selected, a song marked to follow starting by itself
// after the pause, a stop in two steps, Back to the song just played, the clock
// against the slot, and the record of what actually happened.
//
// Nothing here ends a song abruptly by a single key: GO never stops what plays,
// the first Esc only fades, and a key held down (or a pedal that bounces) fires
// once. Time comes in from the caller as milliseconds on one clock, so the
// rules are the same whatever drives them.
class ShowRun
{
public:
    struct Song
    {
        int row = 0;
        QString path;
        QString name;
        qint64 lengthMs = 0;
        // Starts by itself once the pause after the song before it is over.
        bool follows = false;
        // For the PA or the band, shown while the song is next.
        QString note = {};
    };

    // Why a GO started nothing; the window shows it, so that the performer
    // knows the key was heard and ignored on purpose.
    enum class Go { Started, TooSoon, Held, Playing, NoDevice, Over };
    enum class Stop { Nothing, Fade, Cut, FollowCancelled };
    enum class Ending { Played, Faded, Cut, Failed, Interrupted, BrokenOff };
    enum class Level { Normal, Amber, Red, Over };

    struct Played
    {
        qsizetype index = 0;
        qint64 startMs = 0; // from the first GO
        qint64 endMs = -1;  // -1 while it sounds
        Ending ending = Ending::Played;
        qint64 fromMs = 0;  // where in the song it started: 0, or where it was interrupted
        qint64 brokeAtMs = -1; // where in the song it could not be read on, for BrokenOff
    };

    struct Clock
    {
        // The slot less the time since the first GO; none without a slot.
        std::optional<qint64> slotLeftMs;
        // What the slot leaves once the rest of the set plays as planned, the
        // pauses still to come included; negative when it will run over.
        std::optional<qint64> spareMs;
        // How far the show runs behind its plan here; negative when ahead.
        qint64 behindMs = 0;
        Level level = Level::Normal;
    };

    static constexpr qint64 GuardMs = 400;
    static constexpr qint64 AmberMs = 60'000;
    static constexpr qint64 RedMs = 15'000;

    // `from`: the song the show starts at, when it goes on after being cut
    // short; the plan and the record count from there.
    ShowRun(QList<Song> songs, qint64 pauseMs, std::optional<qint64> slotMs, qsizetype from = 0);

    // A show that goes on after being cut short: its first GO was at
    // `firstGoMs` (on the caller's clock: before `nowMs`) and its plan began at
    // the song `planFrom`. The slot ran on meanwhile, so its clock, the plan
    // and the record go on from there rather than starting again; a first GO
    // that lies in the future, or longer ago than GoesOnWithinMs (the set taken
    // up again another day), starts the clock afresh. False then.
    bool goOn(qint64 firstGoMs, qsizetype planFrom, qint64 nowMs);
    static constexpr qint64 GoesOnWithinMs = 12 * 3600'000;

    // A GO key pressed; `key` tells keys apart, so that each must be let go of
    // before it fires again. Started: playing() is the song to start now.
    Go go(qint64 nowMs, int key, bool autoRepeat = false);
    void release(int key);
    // The window lost the keyboard: releases it will never see.
    void releaseAll() { m_held.clear(); }
    // The output device vanished or came back; GO waits for it.
    void setDeviceMissing(bool missing) { m_deviceMissing = missing; }

    // Esc. While a song plays: fade it out (the caller fades over fadeMs); while
    // that fade runs: cut it at once; during the pause before a song that
    // follows: hold it for a GO.
    Stop stop(qint64 nowMs, qint64 fadeMs);
    // Back: while nothing plays, the song before the selected one is selected
    // again, from its start. False when there is none or a song still sounds.
    bool back(qint64 nowMs);

    // The song playing was first heard at `atMs`: the record starts it there
    // rather than at the GO or the follow that asked for it.
    void sounded(qint64 atMs);
    // The song playing reached its end, heard at `nowMs`.
    void ended(qint64 nowMs);
    // The song playing could not be played.
    void failed(qint64 nowMs);
    // The song playing could not be read on after `positionMs` of it had
    // played (its file failed): it is over, and nothing follows it by itself.
    void brokeOff(qint64 nowMs, qint64 positionMs);
    // The song playing stopped sounding at `positionMs` (its device vanished):
    // it is selected again, to go on from there at the next GO.
    void interrupted(qint64 nowMs, qint64 positionMs);
    // A song that follows, when the pause before it is over: started now.
    [[nodiscard]] std::optional<Song> due(qint64 nowMs);

    [[nodiscard]] std::optional<Song> playing() const;
    // What GO starts next (once the song playing is over), or the song that
    // follows by itself: the one worth arming now.
    [[nodiscard]] std::optional<Song> selected() const;
    // The selected song's place in the set; the set's size after the last.
    [[nodiscard]] qsizetype selectedIndex() const { return m_index; }
    // Where the selected song starts: 0, or where it was interrupted.
    [[nodiscard]] qint64 resumeMs() const { return m_resumeMs; }
    // The song fading out, until its fade is over.
    [[nodiscard]] std::optional<Song> fading(qint64 nowMs) const;
    [[nodiscard]] bool isOver() const { return m_index >= m_songs.size() && m_current < 0; }
    // A song was started since the show opened.
    [[nodiscard]] bool hasStarted() const { return !m_record.isEmpty(); }
    // The song the plan (and the slot's clock) counts from.
    [[nodiscard]] qsizetype planFrom() const { return m_planFrom; }

    [[nodiscard]] Clock clock(qint64 nowMs, qint64 positionMs) const;
    [[nodiscard]] QList<Played> record() const { return m_record; }
    // The record as plain text, planned against actual, a line per song and pause.
    [[nodiscard]] QString recordText(qint64 nowMs) const;

    // "h:mm:ss" or "m:ss", with a sign where asked; whole seconds, rounded down.
    [[nodiscard]] static QString clockText(qint64 ms, bool sign = false);

private:
    void start(qint64 nowMs);
    void finish(qint64 endMs, Ending ending);
    [[nodiscard]] qint64 plannedStartMs(qsizetype index) const;
    [[nodiscard]] qint64 sinceStart(qint64 nowMs) const { return m_startMs ? nowMs - *m_startMs : 0; }

    QList<Song> m_songs;
    qint64 m_pauseMs;
    std::optional<qint64> m_slotMs;
    qsizetype m_index = 0;   // the selected song
    qsizetype m_planFrom = 0; // the first song of the plan
    qsizetype m_firstSong = 0; // the first song offered since the show opened
    qsizetype m_current = -1; // the song playing
    std::optional<qint64> m_startMs; // the first GO, also one before a restart
    qint64 m_lastGoMs = 0;
    bool m_anyGo = false;
    qint64 m_resumeMs = 0;
    // The pause before a song that follows runs from here; -1 when none runs.
    qint64 m_followFrom = -1;
    // The end of the last song, for the pause's part of the plan; none before
    // the first song ends, nor when a show goes on after a restart.
    std::optional<qint64> m_lastEndMs;
    qsizetype m_fading = -1;  // the song fading out, and its line in the record
    qsizetype m_fadingRecord = -1;
    qint64 m_fadeUntil = 0;
    bool m_deviceMissing = false;
    QList<int> m_held;
    QList<Played> m_record;
};
