#pragma once

#include <QString>

class QWidget;

// The file dialogs that pick a set-list file to open or a name to save under,
// behind an interface so that tests can script the user's choice.
class SetListDialog
{
public:
    virtual ~SetListDialog() = default;
    // The chosen file, or a null string when the user cancels.
    [[nodiscard]] virtual QString fileToOpen(QWidget *owner, const QString &folder) = 0;
    // The chosen name, or a null string when the user cancels. The dialog asks
    // before an existing file is replaced.
    [[nodiscard]] virtual QString fileToSave(QWidget *owner, const QString &suggestion) = 0;
};

// The system's file dialogs, filtered to playlists.
class SystemSetListDialog : public SetListDialog
{
public:
    [[nodiscard]] QString fileToOpen(QWidget *owner, const QString &folder) override;
    [[nodiscard]] QString fileToSave(QWidget *owner, const QString &suggestion) override;
};
