#include "cli/setlistsongs.h"

#include "model/libraryentry.h"
#include "model/setlistfile.h"
#include "platform/storage/setliststorage.h"

#include <QDateTime>
#include <QFileInfo>

#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

// A file system keeps times no finer than 2 seconds (FAT on a stick): a time
// that close is the same.
bool changedSince(const QFileInfo &song, const SongEdits::Stamp &stamp)
{
    constexpr qint64 TimeSlackMs = 2000;
    return song.size() != stamp.size
        || std::abs(song.lastModified().toMSecsSinceEpoch() - stamp.modifiedMs) > TimeSlackMs;
}

} // namespace

SetListSongs SetListSongs::read(const QString &playlistPath)
{
    SetListSongs set;
    const auto refuse = [&](const QString &reason) {
        set.failure = u"セットリストを開けませんでした。\n%1\n理由: %2"_s.arg(playlistPath, reason);
        return set;
    };
    const auto bytes = SetListStorage::read(playlistPath);
    if (const auto *reason = std::get_if<QString>(&bytes))
        return refuse(*reason);
    SetListFile::ReadError error{};
    const std::optional<SetListFile> file = SetListFile::parse(std::get<QByteArray>(bytes), &error);
    if (!file)
        return refuse(error == SetListFile::ReadError::Empty ? u"空のファイルです"_s
                                                             : u"プレイリストではありません（文字でないデータを含んでいます）"_s);
    if (file->entries.isEmpty())
        return refuse(u"曲が 1 曲も書かれていません"_s);

    const QFileInfo playlist(playlistPath);
    set.name = file->name.isEmpty() ? playlist.completeBaseName() : file->name;
    QStringList missing;
    for (const SetListEntry &entry : file->entries) {
        const QString path = SetListFile::resolve(entry.path, playlist.absolutePath());
        const QString name = SetListFile::fileNameOf(entry.path);
        if (SetListStorage::isRegularFile(path))
        {
            // Titled as the set list text titles a song; a name the library
            // would not list (a four-letter extension) loses its whole extension.
            const QFileInfo song(path);
            const QString title = LibraryEntry::looksLikeSong(song.fileName()) ? LibraryEntry::titleOf(song.fileName())
                                                                               : song.completeBaseName();
            set.songs.append({ path, title, entry.extras.edits });
            if (const auto &stamp = entry.extras.edits.stamp; stamp && changedSince(song, *stamp))
                set.notes << u"「%1」は編集したあとでファイルが変わっています。編集はそのまま使います"_s.arg(title);
        }
        else
            missing << (name.isEmpty() ? entry.path : name);
    }
    // Leaving a song out would burn a different set than the one planned.
    if (!missing.isEmpty())
        set.failure = u"見つからなかった曲があります\n"_s + missing.join(u'\n');
    return set;
}
