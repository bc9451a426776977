#pragma once

#include <QString>

// The text command interface to the media service: open, length query, close and play, each
// naming the media by its quoted full path. The quoted path is the handle, so the same text
// sent later finds the same media.
class MediaCommands
{
public:
    virtual ~MediaCommands();

    // Sends one command text. `reply` receives at most capacity - 1 characters (it may be null
    // with capacity 0). The result code is informational; callers are free to ignore it.
    virtual int sendString(const QString &command, QString *reply, int capacity) = 0;
};

[[nodiscard]] QString openCommand(const QString &path);
[[nodiscard]] QString statusLengthCommand(const QString &path);
[[nodiscard]] QString closeCommand(const QString &path);
[[nodiscard]] QString playCommand(const QString &path);

// Leading-number parse: blanks skipped, then digits with at most one decimal point; whatever
// cannot continue the number (a NUL included) ends it. No number gives 0.
[[nodiscard]] double parseLeadingNumber(const QString &text);

// The play length in milliseconds, or 0. Safe to call from several threads at once as long
// as `media` is.
[[nodiscard]] double GetPlayLength(MediaCommands &media, const QString &path);
