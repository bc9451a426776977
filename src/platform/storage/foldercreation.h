#pragma once

#include <QString>

// Creates a folder together with every missing folder above it.
class FolderCreation
{
public:
    enum class Outcome { Created, AlreadyExists, Failed };

    struct Result
    {
        Outcome outcome = Outcome::Failed;
        QString reason;   // the system's reason when Failed
    };

    // A path that exists as something other than a folder is a failure. So is a
    // path that is not absolute: it would be resolved against whatever the
    // working folder happens to be.
    [[nodiscard]] static Result create(const QString &path);

    // The export folder (base folder, separator, set name). An empty base folder
    // fails as well: joined with the separator it would put the export folder
    // at the root of the file system, which is never what the user meant.
    [[nodiscard]] static Result createExportFolder(const QString &baseFolder,
                                                   const QString &folder);
};
