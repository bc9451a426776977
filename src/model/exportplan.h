#pragma once

#include <QDir>
#include <QList>
#include <QString>

// One data row of the set list as the export reads it.
struct SetListRow
{
    int row = 0;          // index in the set list table (1 = first data row)
    QString number;       // column 0, used unchanged ("01", "100")
    QString fullPath;     // column 2: folder, separator, file name
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
    QString line;              // number, blank, title, CR LF: "01 Opening\r\n"
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
