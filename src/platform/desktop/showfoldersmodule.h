#pragma once

#include <QString>

class QWidget;

// The folder dialog behind the two browse buttons. The dialog itself sits behind
// a small interface so tests can script the user's choice.
class FolderDialog
{
public:
    virtual ~FolderDialog() = default;
    // The chosen folder, or a null string when the user cancels.
    [[nodiscard]] virtual QString chooseFolder(QWidget *owner, const QString &title, const QString &initial) = 0;
};

// The system's folder dialog: folders only, opened on the initial folder.
class SystemFolderDialog : public FolderDialog
{
public:
    [[nodiscard]] QString chooseFolder(QWidget *owner, const QString &title, const QString &initial) override;
};

namespace ShowFoldersModule {

// Shows the dialog with the prompt as its title, opened on initial. Returns the
// chosen folder's full path, or initial unchanged when the user cancels.
[[nodiscard]] QString ShowFolders(FolderDialog &dialog, QWidget *owner, const QString &prompt,
                                  const QString &initial);

} // namespace ShowFoldersModule
