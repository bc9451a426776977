#pragma once

#include <QObject>
#include <QPointer>

class QWidget;

// While alive, swallows the user's mouse and keyboard input to one window and
// its children. Long work runs with a progress dialog that only appears when the
// work turns out to be slow; until then, and while it shows, the window keeps
// repainting but must not take clicks that would start another action.
class InputBlocker : public QObject
{
    Q_OBJECT

public:
    explicit InputBlocker(QWidget *window);
    ~InputBlocker() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPointer<QWidget> m_window;
};
