#include "support/systemonly.h"

#include <QFile>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <array>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

#ifdef Q_OS_WIN

const char *SystemOnly::noFifos() { return "Windows has no FIFOs in its file system"; }

const char *SystemOnly::noSteadyPlayback() { return "Windows under Wine: the output stream reaches the sound server in bursts"; }

bool SystemOnly::makeFifo(const QString &) { return false; }

const char *SystemOnly::noSymlinks() { return "Windows: symbolic links need an administrator (QFile::link makes a .lnk shortcut)"; }

QString SystemOnly::noMounts()
{
    return u"Windows: no file system is mounted for a test (tmpfs, exFAT through FUSE and the slow volume are Linux's)"_s;
}

void SystemOnly::killNow(qint64 pid)
{
    if (const HANDLE process = ::OpenProcess(PROCESS_TERMINATE, FALSE, DWORD(pid))) {
        ::TerminateProcess(process, 1);
        ::CloseHandle(process);
    }
}

bool SystemOnly::keepingTimes(const QString &path, const std::function<bool()> &change)
{
    const auto open = [&path] {
        return ::CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    };
    FILETIME accessed {}, modified {};
    HANDLE h = open();
    const bool read = h != INVALID_HANDLE_VALUE && ::GetFileTime(h, nullptr, &accessed, &modified);
    if (h != INVALID_HANDLE_VALUE)
        ::CloseHandle(h);
    if (!read || !change())
        return false;
    h = open();
    const bool put = h != INVALID_HANDLE_VALUE && ::SetFileTime(h, nullptr, &accessed, &modified);
    if (h != INVALID_HANDLE_VALUE)
        ::CloseHandle(h);
    return put;
}

#else

const char *SystemOnly::noFifos() { return nullptr; }

const char *SystemOnly::noSteadyPlayback() { return nullptr; }

const char *SystemOnly::noSymlinks() { return nullptr; }

bool SystemOnly::makeFifo(const QString &path) { return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0; }

QString SystemOnly::noMounts() { return ::geteuid() == 0 ? QString() : u"mounting needs root"_s; }

void SystemOnly::killNow(qint64 pid) { ::kill(pid_t(pid), SIGKILL); }

bool SystemOnly::keepingTimes(const QString &path, const std::function<bool()> &change)
{
    struct stat was {};
    const QByteArray name = QFile::encodeName(path);
    return ::stat(name.constData(), &was) == 0 && change()
        && ::utimensat(AT_FDCWD, name.constData(), std::array{ was.st_atim, was.st_mtim }.data(), 0) == 0;
}

#endif
