#pragma once

#include "model/songedits.h"

#include <QDir>
#include <QList>
#include <QString>

// One data row of the set list as the export reads it.
struct SetListRow
{
    int row = 0;          // index in the set list table (1 = first data row)
    QString number;       // column 0, used unchanged ("01", "100")
    QString fullPath;     // column 2: folder, separator, file name
    SongEdits edits;      // how the song is shaped for this set; empty for none
    // The edited length as the set list shows it ("00:03:35"), for the set
    // list text; empty for a song without edits.
    QString editedLength;
};

// How a song reaches the stick when it is not a plain copy: the level it must
// be brought to, or a format the venue's player reads.
struct SongConversion
{
    enum class Kind {
        Copy,           // the file as it is, byte for byte
        Mp3FrameGain,   // an MP3 whose frames keep their audio; only their gain fields move
        Rewrite,        // WAV, FLAC or AIFF written again in its own format, with the gain
        ToMp3,          // MP3 at 320 kbps, 44.1 kHz, with its title
        ToWav,          // WAV at 44.1 kHz, 16 bits, stereo
        Mp3Edit,        // an MP3 cut and faded in its own frames, never encoded again
    };
    Kind kind = Kind::Copy;
    double gainDb = 0;   // applied to the decoded samples
    int mp3Steps = 0;    // Mp3FrameGain, Mp3Edit: whole steps of the frames' global gain
    // The song's edits, rendered into Rewrite, ToMp3 and ToWav, or cut into
    // the frames by Mp3Edit; empty for none.
    SongEdits edits;
};

// One copy of the export, in set-list order.
struct ExportItem
{
    int row = 0;               // set list table row, for moving the cursor
    QString number;            // the row's number text
    QString sourcePath;        // the full path, unchanged
    QString fileName;          // characters after the last separator
    QString exportName;        // number, one blank, file name: "01 Opening.mp3"
    QString destinationPath;   // prefix + exportName
    QString title;             // the song's title, for the tags of a new file
    // Number, blank, title, CR LF: "01 Opening\r\n"; an edited song adds its
    // edited length: "01 Opening（00:03:35）\r\n".
    QString line;
    SongEdits edits;           // the row's edits; empty for none
    SongConversion conversion;
    // What the written file is expected to take; -1: the source's own size.
    qint64 expectedBytes = -1;
};

struct ExportPlan
{
    QString baseFolder;   // the output base folder text, unchanged
    QString folder;       // base folder, separator, set name
    QString prefix;       // folder followed by one separator
    QList<ExportItem> items;

    // The whole set list text after a complete export.
    [[nodiscard]] QString text() const;
};

// Builds the export from the set list rows (in table order), the output base
// folder and the set name, all used unchanged. Touches no disk.
//
// A row with an empty full path is passed over. A full path with no separator
// before its last character keeps the whole text as its file name; such a path
// cannot come from a library scan, and it is kept rather than dropped so that
// the check before copying reports it (a path that is not absolute is refused
// there) instead of the song silently missing from the stick.
[[nodiscard]] ExportPlan planExport(const QList<SetListRow> &rows, const QString &baseFolder,
                                    const QString &setName, QChar separator = QDir::separator());
