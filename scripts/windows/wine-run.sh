#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's own prefix, headless and Japanese:
# ctest's emulator for the cross-built tests (CMAKE_CROSSCOMPILING_EMULATOR), and the check
# script's way of starting the program and the installer.
# environment: KORVANDA_WINEPREFIX  the Wine prefix (made by check.sh)
#              KORVANDA_WINDOWS_PREFIX  the cross-built libraries, whose DLLs the tests load
#              KORVANDA_WINEPATH_EMPTY=1  no DLL search path: only what sits beside the program
set -euo pipefail
export WINEPREFIX=${KORVANDA_WINEPREFIX:?set KORVANDA_WINEPREFIX}
export WINEDEBUG=${WINEDEBUG:--all}
# Never offer the Mono or Gecko downloads (there is no network to fetch them from).
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# Qt Test and qDebug write to the debugger on Windows unless told otherwise: to the streams here.
export QT_FORCE_STDERR_LOGGING=1
# The ANSI code page follows the locale: 932 for Japanese.
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
if [ "${KORVANDA_WINEPATH_EMPTY:-}" = 1 ]; then
    export WINEPATH=
else
    gcc_dir=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
    export WINEPATH="$(winepath -w "${KORVANDA_WINDOWS_PREFIX:?}/bin" 2>/dev/null);$(winepath -w "$gcc_dir" 2>/dev/null);$(winepath -w /usr/x86_64-w64-mingw32/lib 2>/dev/null)"
    export QT_PLUGIN_PATH=${QT_PLUGIN_PATH:-$(winepath -w "$KORVANDA_WINDOWS_PREFIX/plugins" 2>/dev/null)}
fi
# The offscreen platform on Windows has no system font list: it reads the fonts of one folder.
# The Japanese face the windows and the stage sheet are drawn with (fonts-ipafont-gothic).
export QT_QPA_FONTDIR=${QT_QPA_FONTDIR:-$(winepath -w /usr/share/fonts/opentype/ipafont-gothic 2>/dev/null)}
# Wine hands no QT_ variable of the Linux side to a Windows program,
# only those written WINEQT_...: without this, ctest's QT_QPA_PLATFORM=offscreen never arrives
# and the tests open real windows (measured: `wine cmd /c set` shows FOO=1 but no QT_X=1).
for name in $(compgen -e); do
    case $name in QT_*) export "WINE$name=${!name}" ;; esac
done
# The Linux media tools the tests generate their songs with, reached through a bridge: Wine
# starts Linux programs but cannot wait for them. It ends when this script does.
if [ -z "${KORVANDA_TOOL_BRIDGE:-}" ] && [ -z "${KORVANDA_WINEPATH_EMPTY:-}" ]; then
    exec 3< <(exec python3 "$(dirname "$0")/toolbridge.py")
    read -r KORVANDA_TOOL_BRIDGE <&3
    export KORVANDA_TOOL_BRIDGE
fi
status=0
if [ "${KORVANDA_QTEST_LOG:-}" = 1 ]; then
    # A Qt Test program writes its log into a file, shown here as ctest would have shown the
    # output (its own output reaches a pipe only through QT_FORCE_STDERR_LOGGING, which Wine passes
    # on only as WINEQT_..., below), and read for check.sh's summary.
    log=$(mktemp --suffix=.txt)
    wine "$@" -o "$(winepath -w "$log")",txt || status=$?
    # Qt Test writes its file in the system's code page (932).
    iconv -c -f CP932 -t UTF-8 "$log" | tr -d '\r' >"$log.utf8" || true
    cat "$log.utf8"
    # ctest shows a passing test's output to no one: its skips and totals are kept for check.sh.
    if [ -n "${KORVANDA_QTEST_SUMMARY:-}" ]; then
        { grep -a '^SKIP \|^Totals:' "$log.utf8" >>"$KORVANDA_QTEST_SUMMARY"; } || true
    fi
    rm -f "$log.utf8"
    rm -f "$log"
else
    wine "$@" || status=$?
fi
exit $status
