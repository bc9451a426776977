#pragma once

#include "platform/media/mediacommands.h"
#include "platform/media/playbackcontrol.h"

#include <QHash>
#include <QMutex>
#include <QObject>
#include <QSet>

#include <optional>

#include <memory>

class AudioPlayer;

// The media service behind the four command texts: lengths come from MediaProbe, playback
// from Korvanda's own player (AudioPlayer), made when it is first needed, so that work
// without sound opens no output. The quoted path is the handle: several paths may play at
// once, each stopped by its own close.
//
// Where a song is, seeking and the output device (PlaybackControl) are asked on this
// object's thread.
//
// The player lives on this object's thread. Length queries (open, status, close) may come
// from any thread; a close from another thread ends only that thread's length query, never
// a song that plays. The command texts play one song per path; songs opened as PlayingSong
// are their owners' and no command text reaches them.
class MediaService : public QObject, public MediaCommands, public PlaybackControl
{
    Q_OBJECT

public:
    enum Result { Ok = 0, UnknownCommand = 1, CannotOpen = 2 };

    struct Command {
        QString word;  // lower case
        QString path;  // between the first quotation mark and the last one
        QString tail;  // what follows the last quotation mark, blanks trimmed
    };

    explicit MediaService(QObject *parent = nullptr);
    ~MediaService() override;

    int sendString(const QString &command, QString *reply, int capacity) override;

    [[nodiscard]] static std::optional<Command> parse(const QString &command);

    // Whether a player for `path` exists and is playing (any thread).
    [[nodiscard]] bool isPlaying(const QString &path) const;
    // The paths that currently hold a player (any thread).
    [[nodiscard]] QStringList openPaths() const;

    [[nodiscard]] std::unique_ptr<PlayingSong> open(const Song &song) override;
    [[nodiscard]] State state(const QString &path) const override;
    [[nodiscard]] qint64 positionMs(const QString &path) const override;
    [[nodiscard]] std::optional<qint64> heardAgoMs(const QString &path, Edge edge) const override;
    [[nodiscard]] qint64 lengthMs(const QString &path) const override;
    void seek(const QString &path, qint64 ms) override;
    void setEdits(const QString &path, const SongEdits &edits, qint64 songMs) override;
    void arm(const QString &path) override;
    void disarm(const QString &path) override;
    void fadeOut(const QString &path, int ms) override;
    void setGain(const QString &path, float gain) override;
    void prepare() override;
    [[nodiscard]] QList<OutputDevice> outputDevices() const override;
    void setOutputDevice(const QByteArray &id) override;
    [[nodiscard]] QByteArray outputDevice() const override { return m_device; }
    [[nodiscard]] bool isOutputOpen() const override;

    // The player, made on first use.
    [[nodiscard]] AudioPlayer &player();

private:
    int play(const QString &path);
    void close(const QString &path, int fadeMs = 0);
    void updateOpen();
    struct Edited {
        SongEdits edits;
        qint64 songMs = 0;
        bool operator==(const Edited &) const = default;
    };
    [[nodiscard]] Edited editsOf(const QString &path) const;
    // The song the commands play under the path, else the newest opened on the file; 0: none.
    [[nodiscard]] quint64 songOf(const QString &path) const;
    struct CommandSong {
        quint64 id = 0;
        Edited edited;
    };

    std::unique_ptr<AudioPlayer> m_player; // touched on this object's thread only
    mutable QMutex m_mutex;
    QSet<QString> m_open;                  // the commands' paths, readable from any thread
    QHash<QString, CommandSong> m_commandSongs; // on this object's thread only
    QByteArray m_device;
    QHash<QString, Edited> m_edits;        // guarded by m_mutex: lengths are asked from any thread
};
