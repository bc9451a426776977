#pragma once

#include <QFuture>
#include <QList>
#include <QStringList>

#include <functional>
#include <optional>

class QWidget;

// Waits for the play lengths of `count` entries that `start` probes off the UI
// thread, with a modal progress dialog titled `title` that appears only when the
// probing is slow; the window takes no input meanwhile. Returns nothing when the user cancels.
[[nodiscard]] std::optional<QList<double>> probeWithProgress(QWidget *window, qsizetype count, const QString &title,
                                                             const std::function<QFuture<QList<double>>()> &start);
