#pragma once

#include "model/exportplan.h"

#include <QString>
#include <QStringList>

// The check run before the export creates or copies anything. A half-done
// export on a stick is worse than none, so every problem that can be seen in
// advance is found here, all at once.
class ExportCheck
{
public:
    // Which names the destination file system accepts.
    enum class NameRules {
        Posix,     // any bytes but '/' and NUL, at most NAME_MAX bytes
        Windows,   // FAT, exFAT, NTFS: no \ / : * ? " < > |, no control
                   // characters, no trailing dot or blank, 255 UTF-16 units
    };

    // Every problem as one Japanese sentence naming the song (its export file
    // name, which holds its number) or the folder; empty when the export can go
    // ahead. Looks at the sources, the room and the name rules of the file
    // system the export folder will be on, and refuses an export folder that
    // already holds a song of the set (copies would mix into the library and
    // could replace the user's own file).
    [[nodiscard]] static QStringList problems(const ExportPlan &plan);

    // All problems joined into the text of one message.
    [[nodiscard]] static QString message(const QStringList &problems);

    // The rules of the file system holding folder (an existing folder).
    [[nodiscard]] static NameRules nameRulesAt(const QString &folder);

    // Why the file system would refuse name, or empty when it accepts it.
    [[nodiscard]] static QString refusedName(const QString &name, NameRules rules,
                                             qint64 nameMaxBytes = 255);

    // Bytes in human units: "120.5 MB".
    [[nodiscard]] static QString humanSize(qint64 bytes);
};
