#include "platform/desktop/sleepguard.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>

#include <memory>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

const QString ScreenSaverService = u"org.freedesktop.ScreenSaver"_s;
const QString ScreenSaverPath = u"/org/freedesktop/ScreenSaver"_s;
const QString LoginService = u"org.freedesktop.login1"_s;

} // namespace

// Shared with the replies still on their way: a guard let go of before its
// answer came still gives back what the answer grants.
struct SleepGuard::Private
{
    SleepGuard *owner = nullptr;
    QString reason;
    State state = State::Asking;
    QString detail;
    bool released = false;
    std::optional<uint> cookie;
    // The login manager's inhibition lasts while this descriptor is open.
    QDBusUnixFileDescriptor lock;

    void set(State s, const QString &text)
    {
        state = s;
        detail = text;
        if (owner)
            Q_EMIT owner->stateChanged();
    }

    void releaseCookie()
    {
        if (!cookie)
            return;
        QDBusMessage call = QDBusMessage::createMethodCall(ScreenSaverService, ScreenSaverPath, ScreenSaverService,
                                                           u"UnInhibit"_s);
        call << *cookie;
        // Nothing waits for the answer: the service forgets the cookie either way.
        QDBusConnection::sessionBus().asyncCall(call);
        cookie.reset();
    }

    static void watch(const QDBusPendingCall &pending, const std::shared_ptr<Private> &self,
                      void (*handle)(const std::shared_ptr<Private> &, const QDBusMessage &))
    {
        // Parented to the application, not the guard, so that a late reply is still seen.
        auto *watcher = new QDBusPendingCallWatcher(pending, QCoreApplication::instance());
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [self, handle](QDBusPendingCallWatcher *w) {
            handle(self, w->reply());
            w->deleteLater();
        });
    }

    static void askScreenSaver(const std::shared_ptr<Private> &self)
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            return askLogin(self, u"セッションバスに接続できません"_s);
        QDBusMessage call = QDBusMessage::createMethodCall(ScreenSaverService, ScreenSaverPath, ScreenSaverService,
                                                           u"Inhibit"_s);
        call << QCoreApplication::applicationName() << self->reason;
        watch(bus.asyncCall(call), self, [](const std::shared_ptr<Private> &p, const QDBusMessage &reply) {
            if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
                return askLogin(p, reply.errorMessage());
            p->cookie = reply.arguments().constFirst().toUInt();
            if (p->released)
                return p->releaseCookie();
            p->set(State::Held, ScreenSaverService);
        });
    }

    // Without a desktop's screen saver service (a bare window manager) the
    // login manager still keeps the system from sleeping on idle.
    static void askLogin(const std::shared_ptr<Private> &self, const QString &why)
    {
        if (self->released)
            return;
        QDBusConnection bus = QDBusConnection::systemBus();
        if (!bus.isConnected())
            return self->set(State::Refused, why);
        QDBusMessage call = QDBusMessage::createMethodCall(LoginService, u"/org/freedesktop/login1"_s,
                                                           u"org.freedesktop.login1.Manager"_s, u"Inhibit"_s);
        call << u"sleep:idle"_s << QCoreApplication::applicationName() << self->reason << u"block"_s;
        watch(bus.asyncCall(call), self, [](const std::shared_ptr<Private> &p, const QDBusMessage &reply) {
            if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
                return p->set(State::Refused, reply.errorMessage());
            if (p->released)
                return;
            p->lock = qdbus_cast<QDBusUnixFileDescriptor>(reply.arguments().constFirst());
            p->set(p->lock.isValid() ? State::Held : State::Refused, LoginService);
        });
    }
};

SleepGuard::SleepGuard(const QString &reason, QObject *parent)
    : QObject(parent)
    , d(std::make_shared<Private>())
{
    d->owner = this;
    d->reason = reason;
    Private::askScreenSaver(d);
}

SleepGuard::~SleepGuard()
{
    d->owner = nullptr;
    d->released = true;
    d->releaseCookie();
    d->lock = QDBusUnixFileDescriptor();
}

SleepGuard::State SleepGuard::state() const
{
    return d->state;
}

QString SleepGuard::detail() const
{
    return d->detail;
}
