#include "model/showoptions.h"

#include <Qt>

using namespace Qt::StringLiterals;

namespace {

bool fixedGo(int key)
{
    switch (key) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_PageDown:
    case Qt::Key_Right:
        return true;
    default:
        return false;
    }
}

ShowKeys::Role fixedRole(int key)
{
    if (fixedGo(key))
        return ShowKeys::Role::Go;
    switch (key) {
    case Qt::Key_Escape:
        return ShowKeys::Role::Stop;
    case Qt::Key_Left:
    case Qt::Key_PageUp:
    case Qt::Key_Backspace:
        return ShowKeys::Role::Back;
    default:
        return ShowKeys::Role::None;
    }
}

// Keys that only change other keys, or that the window system keeps for
// itself (Tab moves the focus before the window sees it).
bool notAKey(int key)
{
    switch (key) {
    case 0:
    case Qt::Key_unknown:
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_ScrollLock:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_Mode_switch:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return true;
    default:
        return false;
    }
}

} // namespace

ShowKeys::ShowKeys(QList<int> taught)
{
    for (int key : taught)
        teach(key);
}

ShowKeys::Role ShowKeys::role(int key) const
{
    const Role fixed = fixedRole(key);
    if (fixed != Role::None)
        return fixed;
    return m_taught.contains(key) ? Role::Go : Role::None;
}

ShowKeys::Teach ShowKeys::teach(int key)
{
    if (notAKey(key))
        return Teach::NotAKey;
    const Role role = fixedRole(key);
    if (role == Role::Stop || role == Role::Back)
        return Teach::Reserved;
    if (role == Role::Go || m_taught.contains(key))
        return Teach::AlreadyGo;
    m_taught.append(key);
    if (m_taught.size() > MaxTaught)
        m_taught.removeFirst();
    return Teach::Taught;
}

QString ShowKeys::toText() const
{
    QStringList parts;
    for (int key : m_taught)
        parts << QString::number(key);
    return parts.join(u',');
}

ShowKeys ShowKeys::fromText(const QString &text)
{
    QList<int> keys;
    for (const QString &part : text.split(u',', Qt::SkipEmptyParts)) {
        bool ok = false;
        const int key = part.trimmed().toInt(&ok);
        if (ok)
            keys.append(key);
    }
    return ShowKeys(keys);
}

qsizetype ShowScreen::choose(const QStringList &screens, const QString &mainScreen, const QString &chosen)
{
    if (screens.isEmpty())
        return -1;
    if (!chosen.isEmpty() && screens.contains(chosen))
        return screens.indexOf(chosen);
    if (screens.size() >= 2) {
        for (qsizetype i = 0; i < screens.size(); ++i)
            if (screens.at(i) != mainScreen)
                return i;
    }
    return qMax<qsizetype>(0, screens.indexOf(mainScreen));
}
