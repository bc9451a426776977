#include "model/setlistfile.h"

#include <QDir>
#include <QStringDecoder>
#include <QUrl>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

const QString ExtM3u = u"#EXTM3U"_s;
const QString ExtInf = u"#EXTINF:"_s;
const QString PlaylistName = u"#PLAYLIST:"_s;
const QString SlotLine = u"#KORVANDA-SLOT:"_s;
const QString PauseLine = u"#KORVANDA-PAUSE:"_s;
const QString EditLine = u"#KORVANDA-EDIT:"_s;
const QString NoteLine = u"#KORVANDA-NOTE:"_s;
const QString FollowLine = u"#KORVANDA-FOLLOW"_s;
const QString VlcOption = u"#EXTVLCOPT:"_s;
const QString VlcStart = u"start-time="_s;
const QString VlcStop = u"stop-time="_s;

// Playlists made on Japanese Windows are in the ANSI code page; ICU knows it
// under several names, Shift_JIS being the closest when CP932 is missing.
QString decodeWindowsJapanese(const QByteArray &bytes, bool *ok)
{
    for (const char *name : { "windows-31j", "cp932", "Shift_JIS" }) {
        QStringDecoder decoder(name, QStringDecoder::Flag::Stateless);
        if (!decoder.isValid())
            continue;
        const QString text = decoder.decode(bytes);
        *ok = !decoder.hasError();
        return text;
    }
    // A Qt without ICU (Korvanda's Windows build) knows none of those names; there the system's
    // own 8-bit encoding is the ANSI code page such a playlist was written in (932 on a Japanese
    // Windows).
    QStringDecoder system(QStringDecoder::System, QStringDecoder::Flag::Stateless);
    const QString text = system.decode(bytes);
    *ok = !system.hasError();
    return text;
}

// A file holding control characters other than tabs and line ends is not a
// playlist, whatever its name says.
bool looksLikeText(QStringView text)
{
    return std::none_of(text.begin(), text.end(), [](QChar c) {
        return c.unicode() < 0x20 && c != u'\t' && c != u'\n' && c != u'\r';
    });
}

QString singleLine(QString text)
{
    text.replace(u'\r', u' ');
    text.replace(u'\n', u' ');
    return text;
}

bool isDrivePath(const QString &path)
{
    return path.size() >= 3 && path.at(0).isLetter() && path.at(1) == u':' && path.at(2) == u'/';
}

// A path on a drive ("D:\", "D:/") or a share ("\\server") as only Windows has them.
bool isWindowsPath(const QString &path)
{
    return (path.size() >= 3 && path.at(0).isLetter() && path.at(1) == u':' && (path.at(2) == u'\\' || path.at(2) == u'/'))
        || path.startsWith(u"\\\\"_s);
}

} // namespace

bool SetListFile::isUtf8(const QByteArray &bytes)
{
    // Invalid sequences come back as U+FFFD, which encodes to other bytes; a
    // stateless decoder does not count them as errors.
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

std::optional<SetListFile> SetListFile::parse(const QByteArray &bytes, ReadError *error)
{
    const auto fail = [error](ReadError why) {
        if (error)
            *error = why;
        return std::nullopt;
    };
    QByteArray body = bytes;
    if (body.startsWith("\xEF\xBB\xBF"))
        body.remove(0, 3);
    if (body.trimmed().isEmpty())
        return fail(ReadError::Empty);

    QString text;
    // Korvanda writes UTF-8 with LF and '/' between folders, on every system,
    // so a backslash in its own lists is part of a Linux name (AC\DC.wav). A
    // list in the Windows code page or with CR LF comes from Windows, where a
    // backslash only ever separates folders; so does a drive or a share.
    const bool windowsList = !isUtf8(body) || body.contains("\r\n");
    if (isUtf8(body)) {
        text = QString::fromUtf8(body);
    } else {
        bool ok = false;
        text = decodeWindowsJapanese(body, &ok);
        if (!ok)
            return fail(ReadError::NotText);
    }
    if (!looksLikeText(text))
        return fail(ReadError::NotText);

    // LF, CR LF, a lone CR (old Mac files) and CR CR LF (a Windows file
    // converted twice) all end a line; the blank lines the last two seem to
    // hold are passed over like any other, and no path or title keeps a CR.
    text.replace(u'\r', u'\n');
    SetListFile file;
    std::optional<SetListEntry> info;
    // What the comment lines before a path said of it; the edit line, when
    // there is one, is Korvanda's own and says more than VLC's start and stop.
    SetListRowExtras extras;
    std::optional<SongEdits> korvandaEdits;
    // -1: the line was not there (or said nothing readable). Plain numbers rather than
    // optionals: GCC takes an optional reset in a loop for one read uninitialised.
    qint64 vlcStart = -1;
    qint64 vlcStop = -1;
    for (QStringView line : QStringView(text).split(u'\n')) {
        if (line.trimmed().isEmpty())
            continue;
        if (line.startsWith(u'#')) {
            if (line.startsWith(ExtInf)) {
                const QStringView rest = line.mid(ExtInf.size());
                const qsizetype comma = rest.indexOf(u',');
                SetListEntry entry;
                bool ok = false;
                const qint64 seconds = rest.left(comma).trimmed().toLongLong(&ok);
                if (ok && seconds >= 0)
                    entry.seconds = seconds;
                if (comma >= 0)
                    entry.title = rest.mid(comma + 1).trimmed().toString();
                info = entry;
            } else if (line.startsWith(PlaylistName)) {
                file.name = line.mid(PlaylistName.size()).trimmed().toString();
            } else if (line.startsWith(SlotLine)) {
                file.slot = line.mid(SlotLine.size()).trimmed().toString();
            } else if (line.startsWith(PauseLine)) {
                file.pause = line.mid(PauseLine.size()).trimmed().toString();
            } else if (line.startsWith(EditLine)) {
                korvandaEdits = SongEdits::fromText(line.mid(EditLine.size()));
            } else if (line.startsWith(NoteLine)) {
                extras.note = line.mid(NoteLine.size()).trimmed().toString();
            } else if (line.trimmed() == FollowLine) {
                extras.follows = true;
            } else if (line.startsWith(VlcOption)) {
                const QStringView option = line.mid(VlcOption.size()).trimmed();
                if (option.startsWith(VlcStart))
                    vlcStart = SongEdits::msOfSeconds(option.mid(VlcStart.size())).value_or(-1);
                else if (option.startsWith(VlcStop))
                    vlcStop = SongEdits::msOfSeconds(option.mid(VlcStop.size())).value_or(-1);
            }
            continue;
        }
        SetListEntry entry = info.value_or(SetListEntry{});
        info.reset();
        entry.path = line.toString();
        if (windowsList || isWindowsPath(entry.path))
            entry.path.replace(u'\\', u'/');
        if (korvandaEdits) {
            extras.edits = *korvandaEdits;
        } else {
            extras.edits.startMs = std::max<qint64>(vlcStart, 0);
            // A stop before the start is no range any player could play.
            if (vlcStop > extras.edits.startMs)
                extras.edits.endMs = vlcStop;
        }
        entry.extras = extras;
        file.entries.append(entry);
        extras = {};
        korvandaEdits.reset();
        vlcStart = vlcStop = -1;
    }
    return file;
}

QByteArray SetListFile::toBytes() const
{
    QString text = ExtM3u + u'\n';
    if (!name.isEmpty())
        text += PlaylistName + singleLine(name) + u'\n';
    if (slot)
        text += SlotLine + singleLine(*slot) + u'\n';
    if (pause)
        text += PauseLine + singleLine(*pause) + u'\n';
    for (const SetListEntry &entry : entries) {
        text += ExtInf + QString::number(entry.seconds.value_or(-1)) + u',' + singleLine(entry.title) + u'\n';
        const SetListRowExtras &extras = entry.extras;
        if (!extras.edits.isEmpty()) {
            text += EditLine + extras.edits.toText() + u'\n';
            if (extras.edits.startMs > 0)
                text += VlcOption + VlcStart + SongEdits::secondsText(extras.edits.startMs) + u'\n';
            if (extras.edits.endMs)
                text += VlcOption + VlcStop + SongEdits::secondsText(*extras.edits.endMs) + u'\n';
        }
        if (!extras.note.isEmpty())
            text += NoteLine + singleLine(extras.note) + u'\n';
        if (extras.follows)
            text += FollowLine + u'\n';
        // '/' between a Windows path's folders; elsewhere a backslash belongs to
        // the file's name and stays.
        text += (isWindowsPath(entry.path) ? QString(entry.path).replace(u'\\', u'/') : entry.path) + u'\n';
    }
    return text.toUtf8();
}

QString SetListFile::pathForPlaylist(const QString &songPath, const QString &playlistFolder)
{
    const QString song = QDir::cleanPath(QDir::fromNativeSeparators(songPath));
    QString folder = QDir::cleanPath(QDir::fromNativeSeparators(playlistFolder));
    if (!folder.endsWith(u'/'))
        folder += u'/';
    if (!song.startsWith(folder) || song.size() == folder.size())
        return song;
    const QString relative = song.mid(folder.size());
    // A line starting with "#" is a comment to every reader; "./" keeps such a
    // song a path.
    return relative.startsWith(u'#') ? u"./"_s + relative : relative;
}

QString SetListFile::resolve(const QString &writtenPath, const QString &playlistFolder)
{
    const QString path = QDir::fromNativeSeparators(writtenPath);
    if (path.startsWith(u"file://"_s, Qt::CaseInsensitive))
        return QUrl(path).toLocalFile();
    if (isDrivePath(path) || path.startsWith(u"//"_s))
        return path;
    if (QDir::isAbsolutePath(path))
        return QDir::cleanPath(path);
    return QDir::cleanPath(QDir::fromNativeSeparators(playlistFolder) + u'/' + path);
}

QString SetListFile::fileNameOf(const QString &writtenPath)
{
    const QString path = writtenPath.startsWith(u"file://"_s, Qt::CaseInsensitive)
        ? QUrl(writtenPath).path()
        : QDir::fromNativeSeparators(writtenPath);
    return path.mid(path.lastIndexOf(u'/') + 1);
}
