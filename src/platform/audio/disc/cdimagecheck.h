#pragma once

#include "model/cdlayout.h"
#include "model/songedits.h"

#include <QList>
#include <QString>
#include <QStringList>

// The check run before an audio CD or its image is written: every problem
// that can be seen in advance is found here, all at once, and nothing is
// written while there is one.
class CdImageCheck
{
public:
    struct Song {
        QString path;
        QString title;   // as the set list text gives it
        SongEdits edits; // how the song is shaped for this set; empty for none
    };
    struct Report {
        QStringList problems;   // each a Japanese sentence; empty: go ahead
        QStringList notes;      // what will be done that the user should know
        CdLayout layout;        // from the songs' exact lengths
        CdText text;
    };

    // Decodes the start of every song (on all cores) and lays the disc out.
    // `cuePath` empty leaves out the room check (burning needs no image
    // beside the set); `capacitySectors` is the disc's.
    [[nodiscard]] static Report check(const QList<Song> &songs, const QString &setName, int gapSeconds,
                                      const QString &cuePath,
                                      qint64 capacitySectors = CdLayout::Disc80Sectors);

    // All problems, then the notes, as the text of one message.
    [[nodiscard]] static QString message(const Report &report);
    // Whether the set fits one CD and with how much to spare, for the status bar.
    [[nodiscard]] static QString fitText(const CdLayout &layout, qint64 capacitySectors = CdLayout::Disc80Sectors);
};
