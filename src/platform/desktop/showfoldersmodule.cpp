#include "platform/desktop/showfoldersmodule.h"

#include <QDir>
#include <QFileDialog>

QString SystemFolderDialog::chooseFolder(QWidget *owner, const QString &title, const QString &initial)
{
    const QString chosen = QFileDialog::getExistingDirectory(owner, title, initial, QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty())
        return {};
    // Shown and stored the way the platform writes paths (backslashes on Windows).
    return QDir::toNativeSeparators(chosen);
}

QString ShowFoldersModule::ShowFolders(FolderDialog &dialog, QWidget *owner, const QString &prompt,
                                       const QString &initial)
{
    const QString chosen = dialog.chooseFolder(owner, prompt, initial);
    return chosen.isNull() ? initial : chosen;
}
