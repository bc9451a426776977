#include "forms/application.h"

#include "platform/storage/stopsignal.h"

#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

using namespace Qt::StringLiterals;

void Application::setIdentity()
{
    QCoreApplication::setOrganizationName(u"Korvanda"_s);
    QCoreApplication::setApplicationName(u"korvanda"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(KORVANDA_VERSION));
    QGuiApplication::setApplicationDisplayName(u"Korvanda"_s);
    QGuiApplication::setDesktopFileName(u"korvanda"_s);
}

void Application::prepare(QApplication &app)
{
    // The window asks for the classic Japanese UI font; on Linux the closest
    // proportional Gothic faces stand in for it.
    QFont::insertSubstitutions(u"ＭＳ Ｐゴシック"_s,
                               { u"IPAPGothic"_s, u"IPAPゴシック"_s, u"Noto Sans CJK JP"_s, u"VL PGothic"_s });

    // The interface speaks Japanese whatever the system's language, standard
    // dialogs (the folder picker) included.
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    const QString translations = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    for (const QString &name : { u"qtbase_ja"_s, u"qtmultimedia_ja"_s }) {
        auto *translator = new QTranslator(&app);
        if (translator->load(name, translations))
            QCoreApplication::installTranslator(translator);
        else
            delete translator;
    }
}

void Application::endOnStopSignal(QObject *owner)
{
    StopSignal::install();
    // A handler may do next to nothing, so the window's thread looks at the
    // note; a quarter of a second is nothing beside the time a logout allows.
    // It keeps looking: a signal that came before the program's own loop
    // started ends that loop too.
    auto *watch = new QTimer(owner);
    QObject::connect(watch, &QTimer::timeout, watch, [] {
        if (const int signal = StopSignal::raised())
            QCoreApplication::exit(128 + signal);
    });
    watch->start(250);
}
