#pragma once

#include "platform/audio/disc/cdimagecheck.h"

#include <QList>
#include <QString>
#include <QStringList>

// The songs of a saved set list as the command line finds them: each entry
// at its path (relative ones from the playlist's folder), titled as the set
// list text titles it.
struct SetListSongs
{
    QString name;                       // the set name, or the playlist's own
    QList<CdImageCheck::Song> songs;
    QString failure;                    // why the set list cannot be used, in Japanese
    // Songs whose file changed since their edits were made: the edits are
    // applied all the same, and the user is told which.
    QStringList notes;

    [[nodiscard]] static SetListSongs read(const QString &playlistPath);
};
