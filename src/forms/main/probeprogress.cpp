#include "forms/main/probeprogress.h"

#include "forms/inputblocker.h"

#include <QEventLoop>
#include <QFutureWatcher>
#include <QElapsedTimer>
#include <QProgressDialog>
#include <QTimer>

#include <memory>

using namespace Qt::StringLiterals;

std::optional<QList<double>> probeWithProgress(QWidget *window, qsizetype count, const QString &title,
                                               const std::function<QFuture<QList<double>>()> &start)
{
    // How long the dialog waits before it shows, and how long before it is even made: a dialog
    // cannot show sooner than the second (it waits that long before it judges the pace), and
    // most rescans are over before then, so they never pay for building one.
    constexpr int ShowAfterMs = 400;
    constexpr int MakeAfterMs = 40;
    QElapsedTimer started;
    started.start();
    std::unique_ptr<QProgressDialog> progress;
    QFutureWatcher<QList<double>> watcher;
    int done = 0;
    const auto show = [&] {
        progress->setValue(done);
        progress->setLabelText(u"曲の長さを調べています… %1 / %2"_s.arg(done).arg(count));
    };
    QObject::connect(&watcher, &QFutureWatcherBase::progressValueChanged, &watcher, [&](int value) {
        done = value;
        if (progress)
            show();
    });
    QTimer maker;
    maker.setSingleShot(true);
    QObject::connect(&maker, &QTimer::timeout, &maker, [&] {
        progress = std::make_unique<QProgressDialog>(window);
        progress->setWindowTitle(title);
        progress->setLabelText(u"曲の長さを調べています…"_s);
        progress->setCancelButtonText(u"キャンセル"_s);
        progress->setRange(0, int(count));
        progress->setMinimumDuration(qMax(0, ShowAfterMs - int(started.elapsed())));
        progress->setWindowModality(Qt::WindowModal);
        progress->setAutoClose(false);
        progress->setAutoReset(false);
        QObject::connect(progress.get(), &QProgressDialog::canceled, &watcher, &QFutureWatcherBase::cancel);
        progress->setValue(0);
        if (done > 0)
            show();
    });

    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    InputBlocker blocker(window);
    watcher.setFuture(start());
    if (!watcher.isFinished()) {
        maker.start(MakeAfterMs);
        loop.exec();
    }
    watcher.waitForFinished();
    maker.stop();
    if (progress && progress->isVisible()) {
        // A dialog that showed took the activation with it; the window gets it
        // back, so that the keyboard goes on where the user left it.
        progress->hide();
        window->window()->activateWindow();
    }
    if (watcher.isCanceled() || (progress && progress->wasCanceled()))
        return std::nullopt;
    return watcher.result();
}
