#pragma once

#include <QObject>
#include <QString>

#include <memory>

// Keeps the computer awake and the screen on while it lives: a laptop that
// sleeps or blanks its screen in the middle of a set stops the show. Linux asks
// the desktop's screen saver service, or failing that the login manager;
// Windows tells the system the program needs the display. Asking never blocks:
// the answer comes later, and whether it was granted is what the window shows.
class SleepGuard : public QObject
{
    Q_OBJECT

public:
    enum class State { Asking, Held, Refused };

    explicit SleepGuard(const QString &reason, QObject *parent = nullptr);
    ~SleepGuard() override;

    [[nodiscard]] State state() const;
    // Who holds it ("org.freedesktop.ScreenSaver", ...), or why nobody does.
    [[nodiscard]] QString detail() const;

Q_SIGNALS:
    void stateChanged();

private:
    struct Private;
    std::shared_ptr<Private> d;
};
