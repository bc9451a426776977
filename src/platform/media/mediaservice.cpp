#include "platform/media/mediaservice.h"

#include "platform/audio/player/audioplayer.h"
#include "platform/media/mediaprobe.h"
#include "platform/media/regularfile.h"

#include <QAudioDevice>
#include <QFile>
#include <QMediaDevices>
#include <QPointer>
#include <QThread>
#include <QThreadStorage>

#include <cmath>

using namespace Qt::StringLiterals;

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
// Kept in Qt's thread storage, not a C++ thread_local: with MinGW-w64's emulated TLS a
// thread_local's destructor runs after its storage has been freed at thread exit (measured under
// Wine: the destructor finds freed memory), and this one frees a string and closes a handle, which
// damaged the heap and hung or crashed programs at exit. Qt deletes the entry when the thread ends.
QThreadStorage<OpenedMedia *> s_opened;

OpenedMedia &openedOnThisThread()
{
    if (!s_opened.hasLocalData())
        s_opened.setLocalData(new OpenedMedia);
    return *s_opened.localData();
}
} // namespace

MediaService::MediaService(QObject *parent) : QObject(parent) {}

MediaService::~MediaService() = default;

AudioPlayer &MediaService::player()
{
    if (!m_player) {
        m_player = std::make_unique<AudioPlayer>();
        m_player->setDevice(m_device);
    }
    return *m_player;
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
        OpenedMedia &opened = openedOnThisThread();
        opened = {c->path, RegularFile(c->path)};
        return opened.file.isOpen() ? Ok : CannotOpen;
    }
    if (c->word == "status"_L1 && c->tail.compare("length"_L1, Qt::CaseInsensitive) == 0) {
        const OpenedMedia &media = openedOnThisThread();
        const bool opened = media.file.isOpen() && media.path == c->path;
        const auto ms = opened ? MediaProbe::lengthMs(media.file.fd(), media.file.size(), c->path)
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
        OpenedMedia &opened = openedOnThisThread();
        if (opened.path == c->path)
            opened = {};
        // A length probe's close on a worker thread ends only its probe: the song
        // the preview plays under the same path is the preview's.
        if (QThread::currentThread() == thread())
            close(c->path);
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
    // A second play while the song plays leaves it playing; after the end it
    // starts again. The song shaped otherwise since is another song: the old one
    // fades out under the new one.
    const Edited e = editsOf(path);
    if (const auto it = m_commandSongs.constFind(path); it != m_commandSongs.cend() && !(it->edited == e))
        close(path);
    arm(path);
    if (const auto it = m_commandSongs.constFind(path); it != m_commandSongs.cend())
        player().play(it->id);
    return Ok;
}

void MediaService::close(const QString &path, int fadeMs)
{
    const auto it = m_commandSongs.constFind(path);
    if (it == m_commandSongs.cend())
        return;
    m_player->close(it->id, fadeMs);
    m_commandSongs.erase(it);
    updateOpen();
}

void MediaService::updateOpen()
{
    QMutexLocker lock(&m_mutex);
    m_open = QSet<QString>(m_commandSongs.keyBegin(), m_commandSongs.keyEnd());
}

bool MediaService::isPlaying(const QString &path) const
{
    return state(path) == State::Playing;
}

QStringList MediaService::openPaths() const
{
    QMutexLocker lock(&m_mutex);
    return QStringList(m_open.cbegin(), m_open.cend());
}

namespace {
PlaybackControl::State stateOf(AudioPlayer::State state)
{
    switch (state) {
    case AudioPlayer::State::Closed:
        return PlaybackControl::State::Closed;
    case AudioPlayer::State::Armed:
        return PlaybackControl::State::Armed;
    case AudioPlayer::State::Playing:
        return PlaybackControl::State::Playing;
    case AudioPlayer::State::Ended:
        return PlaybackControl::State::Ended;
    case AudioPlayer::State::Failed:
        return PlaybackControl::State::Failed;
    case AudioPlayer::State::Interrupted:
        return PlaybackControl::State::Interrupted;
    }
    return PlaybackControl::State::Closed;
}

// A song opened for its owner alone. The player may end first (the service
// goes with the program): the song then is closed.
class OwnedSong : public PlayingSong
{
public:
    OwnedSong(AudioPlayer *player, AudioPlayer::Id id, MediaService::Song song)
        : m_player(player), m_id(id), m_song(std::move(song))
    {
    }
    ~OwnedSong() override
    {
        if (m_player)
            m_player->release(m_id);
    }
    [[nodiscard]] QString path() const override { return m_song.path; }
    void play() override
    {
        if (m_player)
            m_player->play(m_id);
    }
    void seek(qint64 ms) override
    {
        if (m_player)
            m_player->seek(m_id, ms);
    }
    void fadeOut(int ms) override
    {
        if (m_player)
            m_player->close(m_id, ms);
    }
    void setGain(float gain) override
    {
        if (m_player)
            m_player->setGain(m_id, gain);
    }
    [[nodiscard]] State state() const override { return m_player ? stateOf(m_player->state(m_id)) : State::Closed; }
    [[nodiscard]] qint64 positionMs() const override { return m_player ? m_player->positionMs(m_id) : 0; }
    [[nodiscard]] qint64 lengthMs() const override
    {
        if (!m_length) {
            const auto ms = MediaProbe::lengthMs(m_song.path);
            const qint64 whole = ms ? qint64(std::nearbyint(*ms)) : 0;
            m_length = m_song.edits.isEmpty() || whole <= 0
                ? whole
                : m_song.edits.editedMs(m_song.songMs > 0 ? m_song.songMs : whole);
        }
        return *m_length;
    }
    [[nodiscard]] std::optional<qint64> heardAgoMs(Edge edge) const override
    {
        if (!m_player)
            return std::nullopt;
        return m_player->heardAgoMs(m_id, edge == Edge::Start ? AudioPlayer::Edge::Start : AudioPlayer::Edge::End);
    }

private:
    QPointer<AudioPlayer> m_player;
    const AudioPlayer::Id m_id;
    const MediaService::Song m_song;
    mutable std::optional<qint64> m_length;
};
} // namespace

std::unique_ptr<PlayingSong> MediaService::open(const Song &song)
{
    if (!isRegularFile(song.path))
        return nullptr;
    const AudioPlayer::Id id = player().open(song.path, song.edits, song.songMs, song.fromMs);
    // Set before its first sample sounds.
    player().setGain(id, song.gain);
    return std::make_unique<OwnedSong>(&player(), id, song);
}

quint64 MediaService::songOf(const QString &path) const
{
    if (!m_player)
        return 0;
    if (const auto it = m_commandSongs.constFind(path); it != m_commandSongs.cend())
        return it->id;
    const QList<AudioPlayer::Id> ids = m_player->songsOf(path);
    return ids.isEmpty() ? 0 : ids.constLast();
}

PlaybackControl::State MediaService::state(const QString &path) const
{
    const quint64 id = songOf(path);
    return id ? stateOf(m_player->state(id)) : State::Closed;
}

qint64 MediaService::positionMs(const QString &path) const
{
    const quint64 id = songOf(path);
    return id ? m_player->positionMs(id) : 0;
}

std::optional<qint64> MediaService::heardAgoMs(const QString &path, Edge edge) const
{
    const quint64 id = songOf(path);
    if (!id)
        return std::nullopt;
    return m_player->heardAgoMs(id, edge == Edge::Start ? AudioPlayer::Edge::Start : AudioPlayer::Edge::End);
}

qint64 MediaService::lengthMs(const QString &path) const
{
    // Only regular files are probed, as only they are played.
    const auto ms = isRegularFile(path) ? MediaProbe::lengthMs(path) : std::nullopt;
    if (!ms)
        return 0;
    // An edited song is as long as its edits make it, as the set list shows it.
    const Edited e = editsOf(path);
    return e.edits.isEmpty() ? qint64(std::nearbyint(*ms)) : e.edits.editedMs(e.songMs > 0 ? e.songMs : qint64(*ms));
}

void MediaService::setEdits(const QString &path, const SongEdits &edits, qint64 songMs)
{
    QMutexLocker lock(&m_mutex);
    if (edits.isEmpty())
        m_edits.remove(path);
    else
        m_edits.insert(path, { edits, songMs });
}

MediaService::Edited MediaService::editsOf(const QString &path) const
{
    QMutexLocker lock(&m_mutex);
    return m_edits.value(path);
}

void MediaService::seek(const QString &path, qint64 ms)
{
    if (const quint64 id = songOf(path))
        m_player->seek(id, ms);
}

void MediaService::arm(const QString &path)
{
    if (!isRegularFile(path))
        return;
    const Edited e = editsOf(path);
    if (const auto it = m_commandSongs.constFind(path); it != m_commandSongs.cend()) {
        // Arming is only a head start: it never disturbs the song as it plays.
        if (it->edited == e || m_player->state(it->id) != AudioPlayer::State::Armed)
            return;
        close(path);
    }
    m_commandSongs.insert(path, { player().open(path, e.edits, e.songMs), e });
    updateOpen();
}

void MediaService::disarm(const QString &path)
{
    if (const auto it = m_commandSongs.constFind(path);
        it != m_commandSongs.cend() && m_player->state(it->id) == AudioPlayer::State::Armed)
        close(path);
}

void MediaService::fadeOut(const QString &path, int ms)
{
    close(path, ms);
}

void MediaService::setGain(const QString &path, float gain)
{
    if (const auto it = m_commandSongs.constFind(path); it != m_commandSongs.cend())
        m_player->setGain(it->id, gain);
}

bool MediaService::isOutputOpen() const
{
    return m_player && m_player->isOutputOpen();
}

void MediaService::prepare()
{
    (void)player();
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
    if (m_player)
        m_player->setDevice(id);
}
