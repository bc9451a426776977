#pragma once

#include <QString>

#include <optional>

// A remembered folder: one line holding the folder between double quotes,
// ended by CR LF, in the system's 8-bit encoding. Written whole on every save.
namespace SettingsFile {

// Whether an ordinary, visible file of that name exists (a folder or a hidden
// file of that name does not count).
[[nodiscard]] bool isPresent(const QString &path);

// The stored value by the reading rule; empty when the file cannot be read, is
// empty, or holds bytes that are not text in the system's encoding.
[[nodiscard]] QString read(const QString &path);

// The file's bytes for a value: '"' value '"' CR LF.
[[nodiscard]] QByteArray encode(const QString &value);

// Writes the value atomically: a crash or a full disk never leaves a half-written
// file. Returns the system's reason, worded for the user, when it fails.
[[nodiscard]] std::optional<QString> write(const QString &path, const QString &value);

} // namespace SettingsFile
