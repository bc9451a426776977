#include "cli/commandline.h"
#include "forms/application.h"
#include "forms/main/mainwindow.h"
#include "platform/media/mediaservice.h"
#include "platform/desktop/messageboxes.h"
#include "platform/desktop/parentconsole.h"
#include "platform/desktop/setlistdialog.h"
#include "platform/desktop/showfoldersmodule.h"
#include "platform/process/processend.h"

#include <QApplication>
#include <QTextStream>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace {

int run(int argc, char *argv[])
{
    // Work without the window needs no display and starts no window system.
    {
        QStringList arguments;
        for (int i = 1; i < argc; ++i)
            arguments << QString::fromLocal8Bit(argv[i]);
        if (CommandLine::isCommand(arguments)) {
            ParentConsole::attach();
            QCoreApplication app(argc, argv);
            QTextStream out(stdout);
            QTextStream err(stderr);
            return CommandLine::run(app.arguments().mid(1), out, err);
        }
    }
    Application::setIdentity();
    QApplication app(argc, argv);
    Application::prepare(app);
    Application::endOnStopSignal(&app);

    DialogMessageBoxes boxes;
    SystemFolderDialog folderDialog;
    SystemSetListDialog setListDialog;
    MediaService media;
    MainWindow window(Form1Services{ &boxes, &folderDialog, &media, {}, &media }, &setListDialog);
    QObject::connect(window.form(), &Form1::quitRequested, &app, &QApplication::quit, Qt::QueuedConnection);
    window.show();

    // "korvanda set.m3u8", as a file manager starts it for a playlist: the
    // program starts with that set list open.
    const QStringList arguments = app.arguments().mid(1);
    for (const QString &argument : arguments) {
        if (argument.startsWith(u'-'))
            continue;
        window.openSetList(argument.startsWith(u"file:"_s) ? QUrl(argument).toLocalFile() : argument);
        break;
    }
    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    // Everything of the program's is gone when run() returns; how the process then ends
    // differs per system.
    return ProcessEnd::afterMain(run(argc, argv));
}
