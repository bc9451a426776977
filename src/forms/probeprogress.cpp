#include "forms/probeprogress.h"

#include "forms/inputblocker.h"

#include <QEventLoop>
#include <QFutureWatcher>
#include <QProgressDialog>

using namespace Qt::StringLiterals;

std::optional<QList<double>> probeWithProgress(QWidget *window, qsizetype count, const QString &title,
                                               const std::function<QFuture<QList<double>>()> &start)
{
    QProgressDialog progress(window);
    progress.setWindowTitle(title);
    progress.setLabelText(u"曲の長さを調べています…"_s);
    progress.setCancelButtonText(u"キャンセル"_s);
    progress.setRange(0, int(count));
    progress.setMinimumDuration(400);
    progress.setWindowModality(Qt::WindowModal);
    progress.setAutoClose(false);
    progress.setAutoReset(false);

    QFutureWatcher<QList<double>> watcher;
    QObject::connect(&watcher, &QFutureWatcherBase::progressValueChanged, &progress, [&](int done) {
        progress.setValue(done);
        progress.setLabelText(u"曲の長さを調べています… %1 / %2"_s.arg(done).arg(count));
    });
    QObject::connect(&progress, &QProgressDialog::canceled, &watcher, &QFutureWatcherBase::cancel);

    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    InputBlocker blocker(window);
    watcher.setFuture(start());
    if (!watcher.isFinished())
        loop.exec();
    watcher.waitForFinished();
    if (progress.isVisible()) {
        // A dialog that showed took the activation with it; the window gets it
        // back, so that the keyboard goes on where the user left it.
        progress.hide();
        window->window()->activateWindow();
    }
    if (watcher.isCanceled() || progress.wasCanceled())
        return std::nullopt;
    return watcher.result();
}

