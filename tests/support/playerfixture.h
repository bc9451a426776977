#pragma once
// The main window as a performer drives it, with the real player, for the
// tests that listen: a second output device to plug and unplug, the desktop's
// screen saver on the session bus, and three songs made once.
#include "support/fixtures.h"
#include "support/formfixture.h"
#include "support/mediagen.h"

#include "forms/main/mainwindow.h"
#include "forms/show/showcontroller.h"
#include "forms/show/showwindow.h"
#include "platform/desktop/setlistdialog.h"
#include "platform/desktop/stagesheetdialogs.h"

#include <QAction>
#include <QDBusConnection>
#include <QDBusError>
#include <QLabel>
#include <QMenu>

constexpr int Low = 440, High = 880, Mid = 660;

// The desktop's screen saver as a service on the test's own session bus,
// reached over a connection of its own as another program would be.
class ScreenSaver : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")

public:
    ScreenSaver()
    {
        if (!bus.registerService(u"org.freedesktop.ScreenSaver"_s)
            || !bus.registerObject(u"/org/freedesktop/ScreenSaver"_s, this, QDBusConnection::ExportAllSlots))
            qFatal("the screen saver could not register: %s", qPrintable(bus.lastError().message()));
    }
    ~ScreenSaver() override
    {
        bus.unregisterObject(u"/org/freedesktop/ScreenSaver"_s);
        bus.unregisterService(u"org.freedesktop.ScreenSaver"_s);
    }
    QList<uint> held;

public Q_SLOTS:
    uint Inhibit(const QString &, const QString &) { return held.emplaceBack(uint(41 + held.size())); }
    void UnInhibit(uint cookie) { held.removeOne(cookie); }

private:
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"screensaver"_s);
};

// A second output device, as a stage's interface plugged in: a null sink of the
// server's, there until unplugged or the end of the test.
struct ExtraSink
{
    explicit ExtraSink(const QString &name) : name(name) { plugIn(); }
    ~ExtraSink() { unplug(); }
    bool plugIn() { return fixtures::run(u"pactl"_s, { u"load-module"_s, u"module-null-sink"_s, u"sink_name="_s + name }, &module); }
    bool unplug() { return module.isEmpty() || fixtures::run(u"pactl"_s, { u"unload-module"_s, std::exchange(module, QString()) }); }
    const QString name;
    QString module;
};

struct Player : ScriptedBoxes, SetListDialog, StageSheetDialogs
{
    Player() { restart(); }
    void restart()
    {
        window.reset();
        media = std::make_unique<MediaService>();
        window = std::make_unique<MainWindow>(Form1Services{ this, &folders, media.get(), dir.path(), media.get() }, this);
        window->setStageSheetDialogs(this);
        window->show();
        window->activateWindow();
        // A show taken up again at start-up opens over the window and may take the
        // focus before the window ever had it.
        QTRY_VERIFY(window->isActiveWindow() || window->showController()->window());
    }
    QString fileToOpen(QWidget *, const QString &) override { return {}; }
    QString fileToSave(QWidget *, const QString &) override { return saveAs; }
    bool choosePrinter(QWidget *, QPrinter &) override { return false; }
    QString pdfToSave(QWidget *, const QString &) override { return dir.filePath(u"sheet.pdf"_s); }

    template<typename T = QWidget> [[nodiscard]] T *child(const QString &name) const
    {
        T *w = window->findChild<T *>(name);
        if (!w)
            qFatal("no child named %s", qPrintable(name));
        return w;
    }
    [[nodiscard]] Form1 *form() const { return window->form(); }
    void key(Qt::Key key) const { QTest::keyClick(child(u"MSHFlexGrid2"_s), key); }
    [[nodiscard]] QString position() const { return child<QLabel>(u"previewPosition"_s)->text(); }
    void setList(const QStringList &paths) const { QVERIFY(form()->replaceSetList(paths, u"テスト"_s)); }
    // The five controls the preview locks, and the label that says so.
    [[nodiscard]] bool locked() const
    {
        int disabled = 0;
        for (const char *name : { "MSHFlexGrid1", "Command11", "Command3", "Command9", "Command10" })
            disabled += child(QString::fromLatin1(name))->isEnabled() ? 0 : 1;
        if (disabled != 0 && disabled != 5)
            qWarning("only %d of the five controls locked", disabled);
        return disabled == 5 && child(u"Label9"_s)->isVisible() && !child<QAction>(u"quitAction"_s)->isEnabled();
    }

    // The show running; fails the test when there is none.
    [[nodiscard]] ShowWindow *show() const
    {
        ShowWindow *w = window->showController()->window();
        if (!w)
            qFatal("no show running");
        return w;
    }
    void showKey(Qt::Key key) const { QTest::keyClick(show(), key); }
    // Opens the show and waits until its first song is armed.
    void openShow(const QString &first) const
    {
        child<QAction>(u"showAction"_s)->trigger();
        QTRY_VERIFY(media->state(first) == PlaybackControl::State::Armed);
    }
    // GO once the guard after the last GO is over.
    void go() const
    {
        QTest::qWait(450);
        showKey(Qt::Key_Space);
    }
    // Ends the show as its close asks: yes.
    bool endShow()
    {
        answers = { true };
        return show()->close();
    }
    // The output menu's entry for the device, as the user picks it; false while it is not listed.
    bool chooseOutput(const QString &device) const
    {
        QMenu *menu = child<QMenu>(u"outputMenu"_s);
        Q_EMIT menu->aboutToShow();
        for (QAction *a : menu->actions())
            if (a->data().toByteArray() == device.toUtf8())
                return a->trigger(), true;
        return false;
    }
    [[nodiscard]] QString figure(const QString &name) const { return show()->findChild<QLabel *>(name)->text(); }

    QTemporaryDir dir;
    QString saveAs;
    ScriptedFolderDialog folders;
    std::unique_ptr<MediaService> media;
    std::unique_ptr<MainWindow> window;
};

// Three songs made once: a 40.6 s tone that rises from 440 to 880 Hz at 20 s,
// and two 1 s tones of their own pitch.
inline QString song(const QString &name)
{
    static QTemporaryDir songs;
    static const bool made = MediaGen::twoTones(songs.filePath(u"上がる.wav"_s), 40.6, Low, High, 20.0)
        && MediaGen::tone(songs.filePath(u"a.wav"_s), 1.0, Low) && MediaGen::tone(songs.filePath(u"b.wav"_s), 1.0, High);
    return made ? songs.filePath(name) : QString();
}

