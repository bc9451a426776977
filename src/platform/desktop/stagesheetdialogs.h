#pragma once

#include <QString>

class QPrinter;
class QWidget;

// The dialogs of the stage sheet: the system's print dialog and the name of the
// PDF to write, behind an interface so that tests can script the user's choice.
class StageSheetDialogs
{
public:
    virtual ~StageSheetDialogs() = default;
    // Lets the user pick and set up the printer; false when the user cancels.
    [[nodiscard]] virtual bool choosePrinter(QWidget *owner, QPrinter &printer) = 0;
    // The chosen file name, or a null string when the user cancels. The dialog
    // asks before an existing file is replaced.
    [[nodiscard]] virtual QString pdfToSave(QWidget *owner, const QString &suggestion) = 0;
};

class SystemStageSheetDialogs : public StageSheetDialogs
{
public:
    [[nodiscard]] bool choosePrinter(QWidget *owner, QPrinter &printer) override;
    [[nodiscard]] QString pdfToSave(QWidget *owner, const QString &suggestion) override;
};
