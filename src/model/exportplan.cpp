#include "model/exportplan.h"

#include "model/libraryentry.h"

using namespace Qt::StringLiterals;

QString ExportPlan::text() const
{
    QString all;
    for (const ExportItem &item : items)
        all += item.line;
    return all;
}

namespace {

// Position of the separator that splits the path, scanning backwards from the
// next-to-last character: a path ending in a separator still splits before its
// last element. -1 when there is none.
qsizetype splitPosition(const QString &path, QChar separator)
{
    for (qsizetype i = path.size() - 2; i >= 0; --i) {
        if (path.at(i) == separator)
            return i;
    }
    return -1;
}

} // namespace

ExportPlan planExport(const QList<SetListRow> &rows, const QString &baseFolder,
                      const QString &setName, QChar separator)
{
    ExportPlan plan;
    plan.baseFolder = baseFolder;
    plan.folder = baseFolder + separator + setName;
    plan.prefix = plan.folder + separator;

    for (const SetListRow &row : rows) {
        if (row.fullPath.isEmpty())
            continue;
        ExportItem item;
        item.row = row.row;
        item.number = row.number;
        item.sourcePath = row.fullPath;
        item.fileName = row.fullPath.mid(splitPosition(row.fullPath, separator) + 1);
        const QString numberPrefix = row.number + u' ';
        item.exportName = numberPrefix + item.fileName;
        item.destinationPath = plan.prefix + item.exportName;
        item.title = LibraryEntry::titleOf(item.fileName);
        item.edits = row.edits;
        // The performer pastes this text to the PA: a song that does not last
        // its file's length says how long it does.
        const QString length = row.edits.isEmpty() || row.editedLength.isEmpty() ? QString()
                                                                                  : u"（"_s + row.editedLength + u"）"_s;
        item.line = numberPrefix + item.title + length + u"\r\n"_s;
        plan.items.append(item);
    }
    return plan;
}
