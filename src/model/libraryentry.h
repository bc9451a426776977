#pragma once

#include <QString>

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

[[nodiscard]] inline bool isMarked(const QString &displayName)
{
    return displayName.startsWith(FolderMarker);
}

// The title the set list text gives a song: the file name without its last
// four characters, the dot and a three-letter extension for every song the
// library scan lists. A name shorter than four characters has no such
// extension to cut; it is kept whole so that the title still names the song.
[[nodiscard]] inline QString titleOf(const QString &fileName)
{
    return fileName.size() < 4 ? fileName : fileName.left(fileName.size() - 4);
}

} // namespace LibraryEntry
