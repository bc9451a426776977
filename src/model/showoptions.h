#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The show's keys: GO, stop and back are fixed, and keys the performer teaches
// (a page-turner pedal, a remote) become GO keys besides. Keys are Qt::Key values.
class ShowKeys
{
public:
    enum class Role { None, Go, Stop, Back };
    enum class Teach { Taught, AlreadyGo, Reserved, NotAKey };

    // A pedal or two and a remote; the oldest goes when a ninth is taught.
    static constexpr qsizetype MaxTaught = 8;

    explicit ShowKeys(QList<int> taught = {});

    [[nodiscard]] Role role(int key) const;
    // The next key pressed while learning. Stop and back can never become GO
    // (the way out must stay a way out), nor keys that are no key on their own.
    Teach teach(int key);
    void forget() { m_taught.clear(); }
    [[nodiscard]] QList<int> taught() const { return m_taught; }

    // As kept in the settings: the key codes, comma-separated. Reading drops
    // what could not have been taught.
    [[nodiscard]] QString toText() const;
    [[nodiscard]] static ShowKeys fromText(const QString &text);

private:
    QList<int> m_taught;
};

namespace ShowScreen {

// The screen the show window goes to: the one chosen while it is there; else,
// with two or more, the first the main window is not on (the laptop's own
// screen keeps the editor, the one facing the stage gets the show); else the
// main window's. An index into `screens`.
[[nodiscard]] qsizetype choose(const QStringList &screens, const QString &mainScreen, const QString &chosen);

} // namespace ShowScreen
