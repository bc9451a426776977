# Cross compiling for 64-bit Windows with Debian's MinGW-w64 (posix thread model: the win32 one
# has no std::mutex or std::thread in GCC 12).
# KORVANDA_WINDOWS_PREFIX (or the environment variable of the same name) names the folder holding
# the Windows libraries that scripts/windows/build-deps.sh built; it is searched before anything else.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_triple}-windres)
set(CMAKE_OBJDUMP ${_triple}-objdump CACHE FILEPATH "")
set(CMAKE_STRIP ${_triple}-strip CACHE FILEPATH "")

if(NOT KORVANDA_WINDOWS_PREFIX AND DEFINED ENV{KORVANDA_WINDOWS_PREFIX})
    set(KORVANDA_WINDOWS_PREFIX "$ENV{KORVANDA_WINDOWS_PREFIX}")
endif()
# Try-compile projects get a fresh cache: hand the prefix on to them.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KORVANDA_WINDOWS_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
if(KORVANDA_WINDOWS_PREFIX)
    list(PREPEND CMAKE_FIND_ROOT_PATH "${KORVANDA_WINDOWS_PREFIX}")
    # pkg-config must see only the Windows libraries, never the host's .pc files.
    set(ENV{PKG_CONFIG_LIBDIR} "${KORVANDA_WINDOWS_PREFIX}/lib/pkgconfig")
    set(ENV{PKG_CONFIG_PATH} "")
    set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
