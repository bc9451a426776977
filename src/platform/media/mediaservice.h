#pragma once

#include "platform/media/mediacommands.h"
#include "platform/media/playbackcontrol.h"

#include <QHash>
#include <QMutex>
#include <QObject>
#include <QSet>

#include <optional>

class QAudioOutput;
class QFile;
class QMediaPlayer;

// Picks the Qt Multimedia backend that works on this system. Must run before the
// QGuiApplication/QApplication is created; an explicit QT_MEDIA_BACKEND from the user wins.
void selectMediaBackend();

// The media service behind the four command texts: lengths come from MediaProbe, playback
// from Qt Multimedia. The quoted path is the handle: several paths may play at once, each
// stopped by its own close.
//
// Where a song is, seeking and the output device (PlaybackControl) are asked on this
// object's thread.
//
// Players live on this object's thread. Length queries (open, status, close) may come from any
// thread; a close from another thread is handed to this object's thread when a player of that
// path exists, and does nothing otherwise.
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

    [[nodiscard]] State state(const QString &path) const override;
    [[nodiscard]] qint64 positionMs(const QString &path) const override;
    [[nodiscard]] qint64 lengthMs(const QString &path) const override;
    void seek(const QString &path, qint64 ms) override;
    [[nodiscard]] QList<OutputDevice> outputDevices() const override;
    void setOutputDevice(const QByteArray &id) override;
    [[nodiscard]] QByteArray outputDevice() const override { return m_device; }

private:
    struct Player {
        QMediaPlayer *player = nullptr;
        QAudioOutput *output = nullptr;
        QFile *file = nullptr;
        State state = State::Playing;
    };

    int play(const QString &path);
    void close(const QString &path);
    void setState(const QString &path, State state);

    QHash<QString, Player> m_players; // touched on this object's thread only
    mutable QMutex m_mutex;
    QSet<QString> m_open;             // m_players' keys, readable from any thread
    QSet<QString> m_playing;
    QByteArray m_device;
};
