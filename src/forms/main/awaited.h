#pragma once

#include "forms/inputblocker.h"

#include <QEventLoop>
#include <QFutureWatcher>
#include <QWidget>
#include <QtConcurrent/QtConcurrentRun>

// Runs work off the UI thread while the window keeps repainting but takes no
// input, and gives back its result.
template<typename Work>
auto awaited(QWidget *window, Work work) -> decltype(work())
{
    using Result = decltype(work());
    InputBlocker blocker(window);
    QFutureWatcher<Result> watcher;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcher<Result>::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(QtConcurrent::run(std::move(work)));
    if (!watcher.isFinished())
        loop.exec();
    if constexpr (!std::is_void_v<Result>)
        return watcher.result();
}
