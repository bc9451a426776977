#include "platform/process/processend.h"

#include <QtGlobal>

#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace ProcessEnd {

int afterMain(int code)
{
#ifdef Q_OS_WIN
    std::fflush(nullptr);
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(code));
#endif
    // Where the process could not be ended here, the usual exit follows.
    return code;
}

} // namespace ProcessEnd
