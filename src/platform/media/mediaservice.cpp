#include "platform/media/mediaservice.h"

#include "platform/media/mediaprobe.h"
#include "platform/media/regularfile.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QFile>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QThread>
#include <QUrl>

#include <cmath>

using namespace Qt::StringLiterals;

void selectMediaBackend()
{
    // The FFmpeg backend needs nothing beyond Qt's own plugin and plays through the desktop's
    // PulseAudio/PipeWire server; the GStreamer one would need a set of plugin packages.
    // Windows has the one backend its Qt was built with (Media Foundation).
#ifndef Q_OS_WIN
    if (qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND"))
        qputenv("QT_MEDIA_BACKEND", "ffmpeg");
#endif
}

namespace {
bool isRegularFile(const QString &path)
{
    // Only regular files reach the player: opening a FIFO or a device could block forever.
    return RegularFile::isRegular(path);
}

// The media a thread opened for a length query: a length is asked for as open, status, close
// from one thread, and the file checked and opened for the first command serves the second,
// so that each entry of a scan is checked and opened once, not once per command.
struct OpenedMedia {
    QString path;
    RegularFile file;
};
thread_local OpenedMedia t_opened;

QAudioDevice deviceOf(const QByteArray &id)
{
    const QList<QAudioDevice> devices = QMediaDevices::audioOutputs();
    for (const QAudioDevice &device : devices)
        if (!id.isEmpty() && device.id() == id)
            return device;
    return QMediaDevices::defaultAudioOutput();
}
} // namespace

MediaService::MediaService(QObject *parent) : QObject(parent) {}

MediaService::~MediaService()
{
    for (const Player &p : std::as_const(m_players)) {
        p.player->stop();
        delete p.player;
        delete p.output;
        delete p.file;
    }
}

std::optional<MediaService::Command> MediaService::parse(const QString &command)
{
    const qsizetype blank = command.indexOf(u' ');
    if (blank <= 0)
        return std::nullopt;
    const qsizetype first = command.indexOf(u'"', blank);
    const qsizetype last = command.lastIndexOf(u'"');
    if (first < 0 || last <= first)
        return std::nullopt;
    // Only blanks may stand between the command word and the opening quotation mark.
    if (!QStringView(command).mid(blank, first - blank).trimmed().isEmpty())
        return std::nullopt;
    Command c;
    c.word = command.left(blank).toLower();
    c.path = command.mid(first + 1, last - first - 1);
    c.tail = command.mid(last + 1).trimmed();
    return c;
}

int MediaService::sendString(const QString &command, QString *reply, int capacity)
{
    const auto c = parse(command);
    if (!c)
        return UnknownCommand;
    if (c->word == "open"_L1 && c->tail.isEmpty()) {
        t_opened = {c->path, RegularFile(c->path)};
        return t_opened.file.isOpen() ? Ok : CannotOpen;
    }
    if (c->word == "status"_L1 && c->tail.compare("length"_L1, Qt::CaseInsensitive) == 0) {
        const bool opened = t_opened.file.isOpen() && t_opened.path == c->path;
        const auto ms = opened ? MediaProbe::lengthMs(t_opened.file.fd(), t_opened.file.size(), c->path)
                               : MediaProbe::lengthMs(c->path);
        if (!ms)
            return CannotOpen;
        if (reply && capacity > 0) {
            // Whole milliseconds as decimal digits, cut to the room the caller gave
            // (one place stays for the terminating NUL).
            const QString digits = QString::number(qint64(std::nearbyint(*ms))).left(capacity - 1);
            if (reply->size() < capacity)
                reply->resize(capacity, QChar(u'\0'));
            reply->replace(0, digits.size(), digits);
            (*reply)[digits.size()] = QChar(u'\0');
        }
        return Ok;
    }
    if (c->word == "close"_L1 && c->tail.isEmpty()) {
        if (t_opened.path == c->path)
            t_opened = {};
        if (QThread::currentThread() == thread()) {
            close(c->path);
        } else {
            // Length probes close from worker threads; players may only be touched on ours.
            QMutexLocker lock(&m_mutex);
            if (m_open.contains(c->path))
                QMetaObject::invokeMethod(this, [this, path = c->path] { close(path); }, Qt::QueuedConnection);
        }
        return Ok;
    }
    if (c->word == "play"_L1 && c->tail.isEmpty()) {
        if (!isRegularFile(c->path))
            return CannotOpen;
        if (QThread::currentThread() == thread())
            return play(c->path);
        QMetaObject::invokeMethod(this, [this, path = c->path] { play(path); }, Qt::QueuedConnection);
        return Ok;
    }
    return UnknownCommand;
}

int MediaService::play(const QString &path)
{
    auto it = m_players.find(path);
    if (it == m_players.end()) {
        Player p;
        // Looked up at every play: a chosen device that was unplugged plays through
        // the default, and plays through itself again once it is back.
        p.output = new QAudioOutput(deviceOf(m_device));
        p.player = new QMediaPlayer;
        p.player->setAudioOutput(p.output);
        connect(p.player, &QMediaPlayer::playbackStateChanged, this, [this, path](QMediaPlayer::PlaybackState s) {
            QMutexLocker lock(&m_mutex);
            if (s == QMediaPlayer::PlayingState)
                m_playing.insert(path);
            else
                m_playing.remove(path);
        });
        // An unplayable file plays nothing and says nothing; the player stays until closed,
        // like any opened media.
        connect(p.player, &QMediaPlayer::errorOccurred, this, [this, path] {
            setState(path, State::Failed);
            QMutexLocker lock(&m_mutex);
            m_playing.remove(path);
        });
        connect(p.player, &QMediaPlayer::mediaStatusChanged, this, [this, path](QMediaPlayer::MediaStatus s) {
            if (s == QMediaPlayer::EndOfMedia)
                setState(path, State::Ended);
            else if (s == QMediaPlayer::InvalidMedia)
                setState(path, State::Failed);
        });
        // The player reads through a file we opened: Qt's FFmpeg backend cannot open a local
        // URL whose path holds non-ASCII characters (it hands FFmpeg the percent-encoded form),
        // and a Japanese file name is the normal case here.
        p.file = new QFile(path);
        if (p.file->open(QIODevice::ReadOnly))
            p.player->setSourceDevice(p.file, QUrl::fromLocalFile(path));
        // The backend may refuse the file while taking it, before this player is
        // in the table for its error signal to find.
        if (!p.file->isOpen() || p.player->error() != QMediaPlayer::NoError)
            p.state = State::Failed;
        it = m_players.insert(path, p);
        QMutexLocker lock(&m_mutex);
        m_open.insert(path);
    }
    // A second play while the song plays leaves it playing; after the end it starts again.
    if (it->player->playbackState() != QMediaPlayer::PlayingState && it->state != State::Failed) {
        it->state = State::Playing;
        it->player->play();
    }
    return Ok;
}

void MediaService::close(const QString &path)
{
    const auto it = m_players.find(path);
    if (it == m_players.end())
        return;
    const Player p = *it;
    m_players.erase(it);
    {
        QMutexLocker lock(&m_mutex);
        m_open.remove(path);
        m_playing.remove(path);
    }
    p.player->disconnect(this);
    p.player->stop();
    delete p.player;
    delete p.output;
    delete p.file;
}

bool MediaService::isPlaying(const QString &path) const
{
    QMutexLocker lock(&m_mutex);
    return m_playing.contains(path);
}

QStringList MediaService::openPaths() const
{
    QMutexLocker lock(&m_mutex);
    return QStringList(m_open.cbegin(), m_open.cend());
}

void MediaService::setState(const QString &path, State state)
{
    if (const auto it = m_players.find(path); it != m_players.end())
        it->state = state;
}

PlaybackControl::State MediaService::state(const QString &path) const
{
    const auto it = m_players.constFind(path);
    return it == m_players.cend() ? State::Closed : it->state;
}

qint64 MediaService::positionMs(const QString &path) const
{
    const auto it = m_players.constFind(path);
    return it == m_players.cend() ? 0 : it->player->position();
}

qint64 MediaService::lengthMs(const QString &path) const
{
    // Only regular files are probed, as only they are played.
    const auto ms = isRegularFile(path) ? MediaProbe::lengthMs(path) : std::nullopt;
    return ms ? qint64(std::nearbyint(*ms)) : 0;
}

void MediaService::seek(const QString &path, qint64 ms)
{
    const auto it = m_players.find(path);
    if (it == m_players.end() || it->state == State::Failed)
        return;
    // Told to play first and moved after: telling a player that reached the end
    // to play may rewind it, which would undo the move.
    if (it->player->playbackState() != QMediaPlayer::PlayingState) {
        it->state = State::Playing;
        it->player->play();
    }
    it->player->setPosition(qMax<qint64>(0, ms));
}

QList<PlaybackControl::OutputDevice> MediaService::outputDevices() const
{
    QList<OutputDevice> devices;
    for (const QAudioDevice &device : QMediaDevices::audioOutputs())
        devices.append({ device.id(), device.description() });
    return devices;
}

void MediaService::setOutputDevice(const QByteArray &id)
{
    m_device = id;
    // What plays now moves along with the choice.
    const QAudioDevice device = deviceOf(id);
    for (const Player &p : std::as_const(m_players))
        p.output->setDevice(device);
}
