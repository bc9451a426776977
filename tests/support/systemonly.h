#pragma once

// What the tests need from the system that only a POSIX system has (FIFOs, mounts made by
// root, a process ended from any thread, a file's times put back to the nanosecond), and the
// reason a case skips where this system has not. With mediagen.cpp, the only test code that
// knows which system it runs on.

#include <QString>
#include <QTest>

#include <functional>

namespace SystemOnly {

// Why this system has no FIFOs in its file system (Windows), or null where it has them.
const char *noFifos();
// A FIFO at path: whoever opens it to read without a writer waits for ever.
bool makeFifo(const QString &path);

// Why songs played here cannot be relied on to advance (under Wine the output stream reaches
// the sound server in bursts), or null where they play as on a real system.
const char *noSteadyPlayback();

// Why a test cannot make symbolic links here (on Windows they need an administrator, and
// QFile::link makes a shortcut file instead), or null where it can.
const char *noSymlinks();

// Why no file system can be mounted for a test here (not root; on Windows, never: tmpfs,
// exFAT through FUSE and the slow volume are Linux's), or an empty string.
QString noMounts();

// Ends a process at once, as a pulled-out device ends its daemon; safe from any thread.
void killNow(qint64 pid);

// Runs change, which rewrites the file at path, then puts the file's access and modification
// times back as they were before, to the file system's full precision.
bool keepingTimes(const QString &path, const std::function<bool()> &change);

} // namespace SystemOnly

// Skips the rest of a test, or of its data row, when why (a const char *) is not null.
#define SKIP_WITHOUT(why)                                                                                              \
    do {                                                                                                               \
        if (const char *const why_ = (why))                                                                            \
            QSKIP(why_);                                                                                               \
    } while (false)
