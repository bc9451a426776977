#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Replaces the file at `path` with `bytes` all at once: the old file stays
// untouched until the new one is whole on the disk, so a full disk or a pulled
// stick never leaves half a file. Returns the reason, worded for the user, when
// it fails.
[[nodiscard]] std::optional<QString> replaceFile(const QString &path, const QByteArray &bytes);
