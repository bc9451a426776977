// Time from process start to the main window on screen, beside the same for a
// minimal Qt Widgets window, each measured as a fresh process.
#include "forms/application.h"
#include "forms/main/form1.h"
#include "platform/media/mediaservice.h"
#include "platform/desktop/messageboxes.h"
#include "platform/desktop/showfoldersmodule.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// Reports on stdout once the first paint has happened, then quits.
class ShownProbe : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_done) {
            m_done = true;
            QTimer::singleShot(0, [] {
                std::printf("shown\n");
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool m_done = false;
};

class SilentBoxes : public MessageBoxes
{
public:
    void inform(QWidget *, const QString &, const QString &) override {}
    bool ask(QWidget *, const QString &, const QString &) override { return false; }
};

int child(int argc, char **argv, bool full)
{
    Application::setIdentity();
    QApplication app(argc, argv);
    ShownProbe probe;
    if (!full) {
        QWidget window;
        window.resize(957, 606);
        window.installEventFilter(&probe);
        window.show();
        return app.exec();
    }
    Application::prepare(app);
    SilentBoxes boxes;
    SystemFolderDialog dialog;
    MediaService media;
    QTemporaryDir settings;
    Form1 window(Form1Services{ &boxes, &dialog, &media, settings.path() });
    window.installEventFilter(&probe);
    window.show();
    return app.exec();
}

double launchMs(const QString &self, const QString &mode)
{
    QProcess p;
    QElapsedTimer t;
    t.start();
    p.start(self, { mode });
    if (!p.waitForReadyRead(30000))
        return -1;
    const double ms = double(t.nsecsElapsed()) / 1e6;
    p.waitForFinished(10000);
    return ms;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && std::string_view(argv[1]) == "--korvanda")
        return child(argc, argv, true);
    if (argc > 1 && std::string_view(argv[1]) == "--minimal")
        return child(argc, argv, false);

    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const QString self = QCoreApplication::applicationFilePath();
    std::vector<double> full, minimal;
    launchMs(self, u"--korvanda"_s); // warm the caches once
    for (int i = 0; i < 9; ++i) {
        full.push_back(launchMs(self, u"--korvanda"_s));
        minimal.push_back(launchMs(self, u"--minimal"_s));
    }
    std::printf("Process start to first paint of the window (median of 9, platform %s)\n",
                qgetenv("QT_QPA_PLATFORM").isEmpty() ? "xcb" : qgetenv("QT_QPA_PLATFORM").constData());
    std::printf("  Korvanda main window           %7.1f ms\n", median(full));
    std::printf("  baseline: minimal Qt window    %7.1f ms\n", median(minimal));
    return 0;
}
