#!/usr/bin/env bash
# A test session's processes end with it: its servers, the accessibility bus its D-Bus
# session starts on demand, and a stray process that left its parent behind.
# usage: session_ends_everything.sh <scripts/session.sh>
set -euo pipefail
record=$(mktemp)
trap 'rm -f "$record"' EXIT
"$1" bash -c 'setsid sleep 600 </dev/null >/dev/null 2>&1 &
    dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null
    echo "$KORVANDA_SESSION" >"$0"; pgrep -f "$KORVANDA_SESSION/run/at-spi" >>"$0"' "$record" \
    || { echo "FAIL: the accessibility bus did not start, nothing was tested"; exit 1; }
work=$(head -n1 "$record")
[ -n "$work" ] || { echo "FAIL: the session does not mark its processes"; exit 1; }
for f in /proc/[0-9]*/environ; do
    pid=${f#/proc/}; pid=${pid%/environ}
    if grep -qzx "KORVANDA_SESSION=$work" "$f" 2>/dev/null || grep -qzF "$work" "/proc/$pid/cmdline" 2>/dev/null; then
        echo "FAIL: outlived the session: $pid $(tr '\0' ' ' <"/proc/$pid/cmdline")"; exit 1
    fi
done
echo "the session left nothing running"
