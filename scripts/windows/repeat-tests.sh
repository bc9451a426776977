#!/usr/bin/env bash
# Runs some of the cross-built test programs under Wine again and again, two at a time, and
# counts how each run ended: a fault that shows in one run of many (a crash in a worker
# thread, a hang at exit) gets a rate rather than an anecdote. Every run's output that did not
# pass is kept, with Wine's crash report (faulting address, thread, backtrace) when there is one.
#
# usage: scripts/windows/repeat-tests.sh RUNS REGEX [ctest arguments...]
#        e.g. scripts/windows/repeat-tests.sh 20 '^(tst_loudness|tst_editeddelivery)$'
# Needs build-windows/ from check.sh (or KORVANDA_WINDOWS_BUILD) and its Wine prefix.
# environment: KORVANDA_WINDOWS_BUILD  the build folder (default build-windows)
#              KORVANDA_REPEAT_LOGS    where the failed runs' output goes (default BUILD/repeat-logs)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
(($# >= 2)) || { sed -n '7,11p' "$0"; exit 2; }
runs=$1 regex=$2; shift 2
build=${KORVANDA_WINDOWS_BUILD:-build-windows}
[ -f "$build/CTestTestfile.cmake" ] || { echo "no $build: run scripts/windows/check.sh first"; exit 2; }
cache=${KORVANDA_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/korvanda-windows}
export KORVANDA_WINEPREFIX=${KORVANDA_WINEPREFIX:-$cache/wine-tests}
export KORVANDA_WINDOWS_PREFIX=${KORVANDA_WINDOWS_PREFIX:-$(scripts/windows/build-deps.sh --prefix)}
logs=${KORVANDA_REPEAT_LOGS:-$build/repeat-logs}
mkdir -p "$logs"

declare -A outcome=()
started=$(date +%s)
for run in $(seq "$runs"); do
    log=$logs/run-$run.txt
    status=0
    (cd "$build" && nice -n 10 ctest --output-on-failure -j 2 -R "$regex" "$@") >"$log" 2>&1 || status=$?
    # ctest's line per test: "1/2 Test #7: tst_loudness .....***Exception: SegFault  42.1 sec"
    summary=$(sed -n 's/^ *[0-9]*\/[0-9]* *Test *#[0-9]*: \([^ ]*\) [. ]*\**\([A-Za-z]*\)\(: [A-Za-z]*\)\{0,1\}.* \([0-9.]*\) sec$/\1 \2\3 \4/p' "$log" | sed 's/: /:/')
    while read -r name result seconds; do
        [ -n "$name" ] || continue
        outcome[$name:$result]=$((${outcome[$name:$result]:-0} + 1))
        printf '%s  run %d/%d  %-22s %-10s %6s s\n' "$(date +%H:%M:%S)" "$run" "$runs" "$name" "$result" "$seconds"
    done <<<"$summary"
    if ((status == 0)); then
        rm -f "$log"
    else
        grep -a -m 3 -i 'crash occurred\|Unhandled exception\|page fault\|Exception address' "$log" | sed 's/^/    /' || true
        echo "    output kept: $log"
        # Nothing of a crashed or hung run is left to disturb the next one.
        WINEPREFIX=$KORVANDA_WINEPREFIX wineserver -k 2>/dev/null || true
    fi
done
echo "$runs runs in $(($(date +%s) - started)) s:"
for key in $(printf '%s\n' "${!outcome[@]}" | sort); do
    printf '  %-22s %-10s %d\n' "${key%%:*}" "${key#*:}" "${outcome[$key]}"
done
