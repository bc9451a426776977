#pragma once

#include <QString>
#include <QStringList>

// How the library tells songs from everything else in the source folder.
namespace LibraryEntry {

// Put in front of the name of every entry that is not a song; the set list
// refuses rows that begin with it.
inline const QString FolderMarker = QStringLiteral("これはフォルダです");

// A song is a name with a three-letter extension: at least four characters,
// the fourth from the end a dot. Nothing else about the entry is looked at.
[[nodiscard]] inline bool looksLikeSong(const QString &name)
{
    return name.size() >= 4 && name.at(name.size() - 4) == u'.';
}

// The audio formats the player and the export read whose usual extension is
// longer than three letters. A regular file named so is a song as well.
[[nodiscard]] inline bool hasLongAudioExtension(const QString &name)
{
    static const QStringList extensions{ QStringLiteral("flac"), QStringLiteral("aiff"), QStringLiteral("aifc"),
                                         QStringLiteral("opus") };
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 && extensions.contains(name.mid(dot + 1), Qt::CaseInsensitive);
}

[[nodiscard]] inline bool isMarked(const QString &displayName)
{
    return displayName.startsWith(FolderMarker);
}

// The title the set list text gives a song: the file name without its last
// four characters, the dot and a three-letter extension for every song the
// library scan lists, or without its longer audio extension. A name shorter
// than four characters has no such extension to cut; it is kept whole so that
// the title still names the song.
[[nodiscard]] inline QString titleOf(const QString &fileName)
{
    if (hasLongAudioExtension(fileName))
        return fileName.left(fileName.lastIndexOf(u'.'));
    return fileName.size() < 4 ? fileName : fileName.left(fileName.size() - 4);
}

} // namespace LibraryEntry
