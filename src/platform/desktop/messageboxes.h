#pragma once

#include <QString>

class QWidget;

// Every notice, refusal and question of the program goes through this interface,
// so that tests can script the answers instead of clicking real boxes.
class MessageBoxes
{
public:
    virtual ~MessageBoxes() = default;

    // A box with one "OK" button.
    virtual void inform(QWidget *parent, const QString &prompt, const QString &caption) = 0;
    // A box with "はい" and "いいえ"; true for Yes. Escape or closing the box is No.
    [[nodiscard]] virtual bool ask(QWidget *parent, const QString &prompt, const QString &caption) = 0;

    // As `ask`, for a question that only a click may answer: no key chooses
    // Yes or No (keys pressed for something else, Space and Enter, go
    // nowhere); Escape and closing the box are No.
    [[nodiscard]] virtual bool askByClick(QWidget *parent, const QString &prompt, const QString &caption)
    {
        return ask(parent, prompt, caption);
    }

    enum class Answer { Yes, No, Cancel };
    // A box with "はい", "いいえ" and "キャンセル". Escape or closing the box is
    // Cancel. Boxes that cannot ask it answer Cancel, the answer that changes
    // nothing.
    [[nodiscard]] virtual Answer askYesNoCancel(QWidget *parent, const QString &prompt, const QString &caption)
    {
        (void)parent, (void)prompt, (void)caption;
        return Answer::Cancel;
    }
};

// The real boxes: modal QMessageBox without an icon, the caption as window title.
class DialogMessageBoxes : public MessageBoxes
{
public:
    void inform(QWidget *parent, const QString &prompt, const QString &caption) override;
    [[nodiscard]] bool ask(QWidget *parent, const QString &prompt, const QString &caption) override;
    [[nodiscard]] bool askByClick(QWidget *parent, const QString &prompt, const QString &caption) override;
    [[nodiscard]] Answer askYesNoCancel(QWidget *parent, const QString &prompt, const QString &caption) override;
};
