#pragma once

#include "model/songedits.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>

#include <atomic>
#include <deque>
#include <memory>
#include <optional>

class QMediaDevices;
class QThread;
class SongStream;
class OutputEngine;

// Korvanda's own player: songs decoded ahead (SongStream) and mixed into one
// output stream that stays open while the player exists, so that a song sounds
// within one device period of being started, and a song armed in advance costs
// no decode at all when it starts. The output runs on a thread of its own, at
// the highest priority the system grants, and writes only a little silence
// ahead while nothing plays (so a start is heard at once) and more while a
// song plays (so a busy machine does not break it).
//
// Where a song is comes from the frames the device has played, mapped back to
// the song frames that were written, so the clock agrees with the song.
// Every start, stop and seek ramps the gain over a few milliseconds: nothing
// clicks. Each song is its own voice, named by the id `open` gave it: the same
// file may sound twice with other edits, and only who opened a song moves or
// ends it. Several may sound at once.
//
// When the output stream is lost (the sound server went away, the device was
// pulled), every song that sounded is held where it was heard
// (State::Interrupted) and a fade in progress is dropped: nothing sounds again
// by itself when the output comes back. The output is opened again as soon as
// there is one.
//
// All functions are called on the thread that made the player.
class AudioPlayer : public QObject
{
    Q_OBJECT

public:
    enum class State { Closed, Armed, Playing, Ended, Failed, Interrupted };
    using Id = quint64;

    explicit AudioPlayer(QObject *parent = nullptr);
    ~AudioPlayer() override;

    // A song of its own, decoding its first seconds without playing them. With
    // `edits` the song is played as they shape it (laid out on `songMs`, the
    // song's measured length; 0 for the length its file states), and its
    // positions are those of the edited song. `fromMs`: armed there instead of
    // at its start, decoding from there (a song that goes on where it stopped).
    [[nodiscard]] Id open(const QString &path, const SongEdits &edits = {}, qint64 songMs = 0, qint64 fromMs = 0);
    // Plays the song: an armed one at once, one that ended (or was
    // interrupted) from where it is now; one playing plays on.
    void play(Id id);
    // Ends the song and forgets it: a fade of `fadeMs` (at least the few
    // milliseconds that keep a stop from clicking). Closing a song that fades
    // out already makes its fade no longer than that.
    void close(Id id, int fadeMs = 0);
    // Its owner lets go of the song: it ends as `close` would, except that a
    // fade already under way runs to its end.
    void release(Id id);
    // Moves the song to `ms`; a song that ended plays again from there.
    void seek(Id id, qint64 ms);
    // A linear gain for the song (the matched level), applied in the float samples.
    void setGain(Id id, float gain);

    [[nodiscard]] State state(Id id) const;
    [[nodiscard]] qint64 positionMs(Id id) const;
    [[nodiscard]] QString pathOf(Id id) const;
    // The songs open on the file, oldest first.
    [[nodiscard]] QList<Id> songsOf(const QString &path) const;
    // How long ago the device played the song's first sound (since it was last
    // played from its start or moved) or its last; nothing until it has.
    // What a show records as the song's start and end: the moment the sound
    // was there, not the moment it was asked for.
    enum class Edge { Start, End };
    [[nodiscard]] std::optional<qint64> heardAgoMs(Id id, Edge edge) const;

    // The device the sound goes to; empty for the sound server's default. A
    // chosen device that is not there plays nothing until it is back. Setting
    // the same device again checks that it is still there.
    void setDevice(const QByteArray &id);
    [[nodiscard]] QByteArray device() const { return m_device; }
    // Whether the output stream is open on the device.
    [[nodiscard]] bool isOutputOpen() const;
    // Whether the device has started taking what is written. A sound server may
    // take a moment to start a new stream: what plays before then is late.
    [[nodiscard]] bool isRunning() const;
    // Times the output stream was lost since the player was made: a sound
    // server that went away, a device pulled out.
    [[nodiscard]] int outputLosses() const;
    // For the tests: the output stream takes only part of every other write,
    // as a sound system whose buffer is nearly full does (Windows' backend).
    static void takePartOfEachWriteForTest(bool partly);

    // Times the device ran dry while a song was sounding, and times a song's
    // decoder had nothing ready when the device wanted more of it.
    [[nodiscard]] int underruns() const;

    struct Voice;

private:
    void devicesChanged();
    [[nodiscard]] std::shared_ptr<Voice> voiceOf(Id id) const;
    void reap();

    const int m_rate;
    QByteArray m_device;
    QByteArray m_openedOn;
    Id m_lastId = 0;
    QThread *m_thread = nullptr;
    OutputEngine *m_engine = nullptr;
    QMediaDevices *m_devices = nullptr;
    std::shared_ptr<struct Mixer> m_mixer;
};
