#include "platform/desktop/sleepguard.h"

#include <windows.h>

using namespace Qt::StringLiterals;

// The system keeps the request per thread until the thread says otherwise:
// the guard lives and dies on the window's thread.
struct SleepGuard::Private
{
    State state = State::Refused;
};

SleepGuard::SleepGuard(const QString &reason, QObject *parent)
    : QObject(parent)
    , d(std::make_shared<Private>())
{
    (void)reason;
    if (SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED) != 0)
        d->state = State::Held;
}

SleepGuard::~SleepGuard()
{
    if (d->state == State::Held)
        SetThreadExecutionState(ES_CONTINUOUS);
}

SleepGuard::State SleepGuard::state() const
{
    return d->state;
}

QString SleepGuard::detail() const
{
    return d->state == State::Held ? u"SetThreadExecutionState"_s : u"SetThreadExecutionState が拒否されました"_s;
}
