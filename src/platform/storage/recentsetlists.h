#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The set lists opened or saved last, newest first, kept between runs in a
// UTF-8 file of one path per line beside the other settings.
namespace RecentSetLists {

inline constexpr int Max = 8;

// The stored paths; empty when the file is missing or unreadable.
[[nodiscard]] QStringList load(const QString &file);

// Writes the paths atomically; the reason when it fails.
[[nodiscard]] std::optional<QString> save(const QString &file, const QStringList &paths);

// The list with `path` moved (or put) in front, cut to Max.
[[nodiscard]] QStringList withFront(QStringList paths, const QString &path);

} // namespace RecentSetLists
