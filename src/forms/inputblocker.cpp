#include "forms/inputblocker.h"

#include <QAction>
#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

InputBlocker::InputBlocker(QWidget *window)
    // The top-level window: the main window may sit inside a frame that adds
    // menus around it, and those must not take input either.
    : m_window(window ? window->window() : nullptr)
{
    QCoreApplication::instance()->installEventFilter(this);
}

InputBlocker::~InputBlocker()
{
    QCoreApplication::instance()->removeEventFilter(this);
}

bool InputBlocker::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Wheel:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
    case QEvent::Drop:
        break;
    case QEvent::Close:
        // Closing the window in the middle would end the program under the
        // running work; it waits until the work is done or cancelled.
        if (watched == m_window) {
            event->ignore();
            return true;
        }
        return false;
    default:
        return false;
    }
    auto *widget = qobject_cast<QWidget *>(watched);
    // A menu shortcut is delivered to its action, not to a widget.
    if (auto *action = qobject_cast<QAction *>(watched))
        widget = qobject_cast<QWidget *>(action->parent());
    return widget && m_window && widget->window() == m_window;
}
