#pragma once

#include "model/songedits.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

class PlayingSong;

// What a player shows beside play and stop: where the song started under a path
// is, moving it, and where the sound goes. The media command texts start and stop
// playback; this only looks at and moves what they started, named by the same path.
//
// A feature that plays songs of its own (the show, the edit panel) opens each
// as a PlayingSong instead: the row's file with the row's edits and gain, moved
// and ended only by the one that holds it.
class PlaybackControl
{
public:
    // Interrupted: the output was lost while the song sounded; it is held
    // where it was heard and sounds again only when played again.
    enum class State { Closed, Armed, Playing, Ended, Failed, Interrupted };

    struct Song
    {
        QString path;
        SongEdits edits = {};
        qint64 songMs = 0; // the measured length the edits are laid out on; 0: the file's own
        float gain = 1;
        qint64 fromMs = 0; // armed there rather than at its start: it goes on from there
    };
    // The song, armed (its first seconds decoded ahead), for the caller alone;
    // nothing when the path is no regular file.
    [[nodiscard]] virtual std::unique_ptr<PlayingSong> open(const Song &song) = 0;

    struct OutputDevice
    {
        QByteArray id;
        QString description;
    };

    virtual ~PlaybackControl();

    // Of the song the commands started under the path, or else of the newest
    // song open on that file: what a screen or a test looks at.
    [[nodiscard]] virtual State state(const QString &path) const = 0;
    // Milliseconds from the start of the song; 0 when nothing is open under the path.
    [[nodiscard]] virtual qint64 positionMs(const QString &path) const = 0;
    // The song's length by the same probe that fills the length column, so the
    // two always agree; 0 when it has none. Asking never disturbs its playback.
    [[nodiscard]] virtual qint64 lengthMs(const QString &path) const = 0;
    // How long ago the output played the song's first sound (since it was last
    // started or moved) or its last, in milliseconds; nothing until it has.
    enum class Edge { Start, End };
    [[nodiscard]] virtual std::optional<qint64> heardAgoMs(const QString &path, Edge edge) const = 0;
    // Moves playback of the path; a song that has ended plays again from there.
    virtual void seek(const QString &path, qint64 ms) = 0;
    // The edits the song under `path` is played with from its next play or
    // arm, laid out on `songMs` (its measured length): what is heard, the
    // position, seeks and the length are then those of the edited song. No
    // edits: the song as its file is.
    virtual void setEdits(const QString &path, const SongEdits &edits, qint64 songMs) = 0;
    // Decodes the song's first seconds ahead, so that playing it later starts at once.
    virtual void arm(const QString &path) = 0;
    // Lets go of a song armed but never played; one that plays is left alone.
    virtual void disarm(const QString &path) = 0;
    // Ends the song with a fade over `ms` and lets go of it, as its close
    // command would at once: a stop that the audience hears as intended.
    virtual void fadeOut(const QString &path, int ms) = 0;
    // The song's linear gain (its matched level), from now on.
    virtual void setGain(const QString &path, float gain) = 0;
    // Opens the output now, so that the first song sounds at once.
    virtual void prepare() = 0;

    // The devices the sound server offers now.
    [[nodiscard]] virtual QList<OutputDevice> outputDevices() const = 0;
    // The device playback goes to; empty for the sound server's default. A chosen
    // device that is not there plays nothing until it is back.
    virtual void setOutputDevice(const QByteArray &id) = 0;
    [[nodiscard]] virtual QByteArray outputDevice() const = 0;
    // Whether the output stream is open: not while the sound server is away.
    [[nodiscard]] virtual bool isOutputOpen() const = 0;
};

// One song as it plays, owned by whoever opened it. Letting go of it ends it
// (a fade under way runs to its end).
class PlayingSong
{
public:
    using State = PlaybackControl::State;
    using Edge = PlaybackControl::Edge;
    virtual ~PlayingSong();

    [[nodiscard]] virtual QString path() const = 0;
    // Starts it, or goes on where it is (where it was heard, after an interruption).
    virtual void play() = 0;
    virtual void seek(qint64 ms) = 0;
    // Ends it with a fade over `ms`; again with a shorter one cuts the fade short.
    virtual void fadeOut(int ms) = 0;
    virtual void setGain(float gain) = 0;
    [[nodiscard]] virtual State state() const = 0;
    [[nodiscard]] virtual qint64 positionMs() const = 0;
    // Its length as its edits make it, by the probe that fills the length column; 0: none.
    [[nodiscard]] virtual qint64 lengthMs() const = 0;
    [[nodiscard]] virtual std::optional<qint64> heardAgoMs(Edge edge) const = 0;
};
