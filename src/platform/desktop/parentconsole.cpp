#include "platform/desktop/parentconsole.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <cstdio>
#include <io.h>
#include <windows.h>
#endif

void ParentConsole::attach()
{
#ifdef Q_OS_WIN
    // A stream already redirected to a file or a pipe (korvanda --export ... > list.txt) is kept;
    // only the streams that lead nowhere are pointed at the parent's console.
    const auto leadsNowhere = [](DWORD which) {
        const HANDLE h = ::GetStdHandle(which);
        return h == nullptr || h == INVALID_HANDLE_VALUE || ::GetFileType(h) == FILE_TYPE_UNKNOWN;
    };
    const bool out = leadsNowhere(STD_OUTPUT_HANDLE);
    const bool err = leadsNowhere(STD_ERROR_HANDLE);
    if ((!out && !err) || !::AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    // Korvanda writes UTF-8; the console shows it as such whatever its code page was.
    ::SetConsoleOutputCP(CP_UTF8);
    if (out)
        (void)std::freopen("CONOUT$", "w", stdout);
    if (err)
        (void)std::freopen("CONOUT$", "w", stderr);
#endif
}
