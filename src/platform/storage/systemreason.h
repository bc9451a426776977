#pragma once

#include <QString>
#include <QtGlobal>

// The system's reason for a failed file operation, worded for the user: the
// common causes in Japanese, followed by the system's own text so that nothing
// of the original is lost.
namespace SystemReason {

[[nodiscard]] QString text(int error);

// Clears the system's last error (errno, and GetLastError on Windows) before a file call
// whose failure lastError() is to explain.
void clear();

// The reason of a file call that has just failed. Qt keeps only its own English
// text; errno (on Windows, where Qt's files are handles, GetLastError), read before
// anything else can change it, still names the cause. The caller calls clear() before
// the call; the library's text stands when the call left no error behind.
[[nodiscard]] QString lastError(const QString &libraryText);

#ifdef Q_OS_WIN
// The same for a Windows error code (GetLastError): the common causes in the same Japanese
// words, then Windows' own text in the system's language.
[[nodiscard]] QString windowsText(unsigned long error);
#endif

} // namespace SystemReason
