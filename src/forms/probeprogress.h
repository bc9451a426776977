#pragma once

#include <QList>
#include <QStringList>

#include <optional>

class MediaCommands;
class QWidget;

// Probes every path's play length off the UI thread, with a modal progress
// dialog titled `title` that appears only when the probing is slow; the window
// takes no input meanwhile. Returns nothing when the user cancels.
[[nodiscard]] std::optional<QList<double>> probeWithProgress(QWidget *window, MediaCommands &media,
                                                             const QStringList &paths, const QString &title);
