#pragma once

#include <QWidget>

class QPlainTextEdit;
class QPushButton;

// The help window: the instructions in one editable box and a close button.
// It deletes itself when closed, so each opening shows the text afresh.
class Form2 : public QWidget
{
    Q_OBJECT

public:
    explicit Form2(QWidget *parent = nullptr);

    // The instructions, lines joined by CR LF, without a line end after the last.
    [[nodiscard]] static QString helpText();

    QPlainTextEdit *Text1 = nullptr;
    QPushButton *Command1 = nullptr;
};
