// Prints the library a scan shows, without showing the window: the main window is made with
// its settings in APPFOLDER (the source folder read from motodata.dat in the system's 8-bit
// encoding, as at every start), the scan button pressed, and the library's rows written to
// OUTFILE as UTF-8 lines "name<TAB>length<TAB>the probe's milliseconds", with whatever the
// window said. scripts/windows/check.sh
// compares what the Linux build and the Windows build under Wine print for the same folder.
//
// usage: korvanda_printscan APPFOLDER OUTFILE
#include "platform/media/mediacommands.h"
#include "support/formfixture.h"

#include <QFile>

int main(int argc, char **argv)
{
    QStandardPaths::setTestModeEnabled(true);
    Application::setIdentity();
    QApplication app(argc, argv);
    Application::prepare(app);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        fputs("usage: korvanda_printscan APPFOLDER OUTFILE\n", stderr);
        return 2;
    }
    FormFixture f(args[1]);
    f.click(u"Command11"_s);
    QByteArray printed;
    for (int r = 1; r < f.library().Rows(); ++r)
        printed += (f.library().textAt(r, 1) + u'\t' + f.library().textAt(r, 3) + u'\t'
                    + QString::number(GetPlayLength(f.media, f.library().textAt(r, 2)), 'f', 3))
                       .toUtf8()
            + '\n';
    for (const ScriptedBoxes::Shown &box : std::as_const(f.boxes.shown))
        printed += (u"said: "_s + box.prompt).toUtf8() + '\n';
    QFile out(args[2]);
    return out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(printed) == printed.size() ? 0 : 1;
}
