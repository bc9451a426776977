#include "forms/setlisttextbox.h"

#include <QTextCursor>

using namespace Qt::StringLiterals;

namespace {

QString toEditor(QString text)
{
    return text.replace(u"\r\n"_s, u"\n"_s);
}

} // namespace

SetListTextBox::SetListTextBox(QWidget *parent)
    : QPlainTextEdit(parent)
{
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setTabChangesFocus(true);
}

QString SetListTextBox::text() const
{
    return toPlainText().replace(u'\n', u"\r\n"_s);
}

void SetListTextBox::setText(const QString &text)
{
    setPlainText(toEditor(text));
}

void SetListTextBox::appendText(const QString &text)
{
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    end.insertText(toEditor(text));
}
