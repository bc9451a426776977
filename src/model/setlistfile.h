#pragma once

#include "model/setlistrow.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// One song of a set-list file: where it lies and what it is called.
struct SetListEntry
{
    QString path;                    // as written in the file (or to be written)
    QString title;                   // the #EXTINF title; empty when there was none
    std::optional<qint64> seconds;   // the #EXTINF length; never trusted for the set list
    SetListRowExtras extras;         // edits, note and follow mark
};

// A set list as an M3U8 playlist, the format every player reads: UTF-8 without
// a byte order mark, "#EXTM3U" first, "#EXTINF:<seconds>,<title>" before each
// path. The set name travels as "#PLAYLIST:<name>"; the slot and the pause as
// comment lines of their own that other players ignore, and so do each row's
// edits, note and follow mark, written between its "#EXTINF" and its path. The
// edits' start and end also go out as VLC's "#EXTVLCOPT:start-time=" and
// "stop-time=", so that other players start and stop where Korvanda does, and a
// playlist with only those lines opens with them as each song's start and end. Pure text work: bytes
// in, entries out, and back. Paths are not looked at on disk here.
class SetListFile
{
public:
    QString name;
    QList<SetListEntry> entries;
    // Kept as written ("hh:mm:ss" and whole seconds); their meaning belongs to
    // the window that shows them.
    std::optional<QString> slot;
    std::optional<QString> pause;

    enum class ReadError { Empty, NotText };

    // Reads a playlist written by this program or by another player, including
    // M3U files from Windows: bytes that are not valid UTF-8 are read as CP932,
    // a byte order mark is accepted, LF, CR LF, CR and CR CR LF all end a line,
    // unknown "#" lines are passed over. Paths come back as written, with "\"
    // turned into "/". Whatever is read writes back to the same entries.
    [[nodiscard]] static std::optional<SetListFile> parse(const QByteArray &bytes, ReadError *error = nullptr);

    // The playlist's bytes: LF line ends, "/" separators, no byte order mark.
    // Line breaks inside a name or title would start a line the reader takes
    // for a path, so they are written as blanks.
    [[nodiscard]] QByteArray toBytes() const;

    // The path as the playlist writes it: relative to the playlist's folder when
    // the song lies in or below it, absolute otherwise; "/" between the parts.
    [[nodiscard]] static QString pathForPlaylist(const QString &songPath, const QString &playlistFolder);

    // The file a written path names, seen from the playlist's folder: relative
    // paths from there, "file://" addresses as local files. Drive-letter paths
    // stay as they are (they only exist on the computer that wrote them).
    [[nodiscard]] static QString resolve(const QString &writtenPath, const QString &playlistFolder);

    // The last part of a written path: what is looked for in the library folder
    // when the path itself does not lead to the song.
    [[nodiscard]] static QString fileNameOf(const QString &writtenPath);

    // Whether every byte sequence is valid UTF-8.
    [[nodiscard]] static bool isUtf8(const QByteArray &bytes);
};
