#include "platform/desktop/messageboxes.h"

#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace {

void prepare(QMessageBox &box, const QString &prompt, const QString &caption)
{
    box.setIcon(QMessageBox::NoIcon);
    box.setWindowTitle(caption);
    box.setText(prompt);
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
}

// Lets no key through to the box and its buttons but Escape (which is No).
class ClickOnly : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease
            || event->type() == QEvent::ShortcutOverride)
            return static_cast<QKeyEvent *>(event)->key() != Qt::Key_Escape;
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

void DialogMessageBoxes::inform(QWidget *parent, const QString &prompt, const QString &caption)
{
    QMessageBox box(parent);
    prepare(box, prompt, caption);
    QPushButton *ok = box.addButton(u"OK"_s, QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
}

bool DialogMessageBoxes::ask(QWidget *parent, const QString &prompt, const QString &caption)
{
    QMessageBox box(parent);
    prepare(box, prompt, caption);
    QPushButton *yes = box.addButton(u"はい"_s, QMessageBox::YesRole);
    QPushButton *no = box.addButton(u"いいえ"_s, QMessageBox::NoRole);
    box.setDefaultButton(yes);
    // Escape and the window's close button both mean No: a question left
    // unanswered must never go ahead.
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

bool DialogMessageBoxes::askByClick(QWidget *parent, const QString &prompt, const QString &caption)
{
    QMessageBox box(parent);
    prepare(box, prompt, caption);
    QPushButton *yes = box.addButton(u"はい"_s, QMessageBox::YesRole);
    QPushButton *no = box.addButton(u"いいえ"_s, QMessageBox::NoRole);
    box.setEscapeButton(no);
    // Neither button is the default nor takes the focus: Enter and Space press nothing.
    for (QPushButton *button : { yes, no }) {
        button->setAutoDefault(false);
        button->setDefault(false);
        button->setFocusPolicy(Qt::NoFocus);
    }
    ClickOnly filter;
    box.installEventFilter(&filter);
    yes->installEventFilter(&filter);
    no->installEventFilter(&filter);
    box.exec();
    return box.clickedButton() == yes;
}

MessageBoxes::Answer DialogMessageBoxes::askYesNoCancel(QWidget *parent, const QString &prompt, const QString &caption)
{
    QMessageBox box(parent);
    prepare(box, prompt, caption);
    QPushButton *yes = box.addButton(u"はい"_s, QMessageBox::YesRole);
    QPushButton *no = box.addButton(u"いいえ"_s, QMessageBox::NoRole);
    QPushButton *cancel = box.addButton(u"キャンセル"_s, QMessageBox::RejectRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == yes)
        return Answer::Yes;
    return box.clickedButton() == no ? Answer::No : Answer::Cancel;
}
