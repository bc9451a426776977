#include "support/privatesound.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <csignal>

using namespace Qt::StringLiterals;

namespace {
QString runtime()
{
    static const QString dir = QDir::tempPath() + u"/korvanda-sound-%1"_s.arg(QCoreApplication::applicationPid());
    return dir;
}

bool answers()
{
    QProcess info;
    info.start(u"pactl"_s, { u"info"_s });
    return info.waitForFinished(3000) && info.exitStatus() == QProcess::NormalExit && info.exitCode() == 0;
}
} // namespace

QString PrivateSound::sink()
{
    return u"korvanda_private"_s;
}

bool PrivateSound::start()
{
    QDir().mkpath(runtime());
    qputenv("PULSE_RUNTIME_PATH", runtime().toLocal8Bit());
    qputenv("PULSE_STATE_PATH", (runtime() + u"/state"_s).toLocal8Bit());
    qputenv("PULSE_SERVER", (u"unix:"_s + runtime() + u"/native"_s).toLocal8Bit());
    qputenv("KORVANDA_TEST_SINK", sink().toLocal8Bit());
    // Daemonised, so that it belongs to the test session and ends with it however the test
    // ends; off the session bus, where the session's own server holds the name.
    QProcess server;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, u"unix:path=%1/no-bus"_s.arg(runtime()));
    env.remove(u"DISPLAY"_s);
    server.setProcessEnvironment(env);
    server.start(
        u"pulseaudio"_s,
        { u"-n"_s, u"--daemonize=yes"_s, u"--exit-idle-time=-1"_s, u"--use-pid-file=yes"_s, u"--system=false"_s,
          u"--disallow-module-loading=false"_s, u"--load=module-null-sink sink_name=%1"_s.arg(sink()),
          u"--load=module-native-protocol-unix socket=%1/native auth-anonymous=1"_s.arg(runtime()),
          u"--load=module-always-sink"_s, u"--log-target=file:%1/log"_s.arg(runtime()) });
    if (!server.waitForFinished(10000) || server.exitStatus() != QProcess::NormalExit || server.exitCode() != 0)
        return false;
    for (int i = 0; i < 100; ++i) {
        if (answers())
            return true;
        QThread::msleep(50);
    }
    return false;
}

void PrivateSound::kill()
{
    QFile pid(runtime() + u"/pid"_s);
    if (!pid.open(QIODevice::ReadOnly))
        return;
    const pid_t server = pid_t(pid.readAll().trimmed().toInt());
    if (server <= 0)
        return;
    ::kill(server, SIGKILL);
    for (int i = 0; i < 100 && ::kill(server, 0) == 0; ++i)
        QThread::msleep(20);
    QFile::remove(pid.fileName());
}
