#pragma once

#include <QPlainTextEdit>

// The multi-line box that receives the set list text. Its text uses CR LF line
// ends, the form people paste into chats and mails, while the editor itself
// works with plain line feeds.
class SetListTextBox : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit SetListTextBox(QWidget *parent = nullptr);

    [[nodiscard]] QString text() const;
    void setText(const QString &text);
    // Appends at the end without rewriting what is there (exports of thousands
    // of rows stay linear).
    void appendText(const QString &text);
};
