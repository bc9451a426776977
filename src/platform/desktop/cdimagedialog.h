#pragma once

#include <QString>

class QWidget;

// The name of the audio CD image to write, behind an interface so that tests
// can script the user's choice.
class CdImageDialog
{
public:
    virtual ~CdImageDialog() = default;
    // The chosen .cue file, or a null string when the user cancels. The
    // dialog asks before an existing file is replaced.
    [[nodiscard]] virtual QString cueToSave(QWidget *owner, const QString &suggestion) = 0;
};

class SystemCdImageDialog : public CdImageDialog
{
public:
    [[nodiscard]] QString cueToSave(QWidget *owner, const QString &suggestion) override;
};
