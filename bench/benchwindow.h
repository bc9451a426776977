#pragma once

#include "forms/application.h"
#include "platform/media/mediaservice.h"

#include <QApplication>
#include <QStandardPaths>

#include <cstdio>
#include <memory>

// The application of a benchmark that drives the real window, made as the
// program makes its own; figures appear as they are measured, the window draws
// offscreen unless a display is asked for, and no setting of a real user is
// read or written. `argc` must outlive the application.
inline std::unique_ptr<QApplication> windowBenchApp(int &argc, char **argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    Application::setIdentity();
    auto app = std::make_unique<QApplication>(argc, argv);
    Application::prepare(*app);
    return app;
}
