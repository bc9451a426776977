#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

// Reading and writing set-list files on disk. Reading refuses what cannot be a
// playlist before opening it (a folder, a FIFO that would block, a device, a
// huge file); writing is atomic, so a failure never leaves half a playlist.
namespace SetListStorage {

// The largest playlist read: far more than the set list can hold, small enough
// that a wrong file cannot exhaust memory.
inline constexpr qint64 MaxBytes = 16 * 1024 * 1024;

// The file's bytes, or the reason in Japanese why it cannot be read.
[[nodiscard]] std::variant<QByteArray, QString> read(const QString &path);

// Writes the bytes through a temporary file that is flushed and renamed over
// the old one. Returns the reason in Japanese when it fails; the old file is
// then untouched.
[[nodiscard]] std::optional<QString> write(const QString &path, const QByteArray &bytes);

// A regular file at that path (a folder or a FIFO does not count).
[[nodiscard]] bool isSongFile(const QString &path);

} // namespace SetListStorage
