#include "forms/application.h"
#include "forms/form1.h"
#include "platform/media/mediaservice.h"
#include "platform/desktop/messageboxes.h"
#include "platform/desktop/showfoldersmodule.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    selectMediaBackend();
    Application::setIdentity();
    QApplication app(argc, argv);
    Application::prepare(app);

    DialogMessageBoxes boxes;
    SystemFolderDialog folderDialog;
    MediaService media;
    Form1 window(Form1Services{ &boxes, &folderDialog, &media, {} });
    QObject::connect(&window, &Form1::quitRequested, &app, &QApplication::quit, Qt::QueuedConnection);
    window.show();
    return app.exec();
}
