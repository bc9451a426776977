#!/usr/bin/env bash
# Runs a command inside a private X display (Xvfb), a private D-Bus session bus (on which
# the accessibility bus starts when a test asks for it) and a private PulseAudio server
# whose default sink is a null sink, then stops all of it. Nothing of the user's own
# session is touched: the servers' runtime folder is a temporary one.
# usage: scripts/session.sh <command...>
set -euo pipefail
work=$(mktemp -d /tmp/korvanda-session.XXXXXX)
# Every process of the session inherits this mark, also those a bus starts on demand
# and those that leave their parents behind, so that the end finds each one of them.
export KORVANDA_SESSION="$work"

session_pids() {
    local f pid
    for f in /proc/[0-9]*/environ; do
        pid=${f#/proc/}
        pid=${pid%/environ}
        [ "$pid" = $$ ] && continue
        grep -qzx "KORVANDA_SESSION=$work" "$f" 2>/dev/null && echo "$pid"
    done
    return 0
}

cleanup() {
    # The look-up below must not find its own helpers.
    unset KORVANDA_SESSION
    [ -n "${xpid:-}" ] && kill "$xpid" 2>/dev/null || true
    if [ -n "${XDG_RUNTIME_DIR:-}" ]; then
        pulseaudio --kill 2>/dev/null || true
    fi
    local pids
    pids=$(session_pids)
    [ -n "$pids" ] && kill $pids 2>/dev/null || true
    for _ in $(seq 40); do
        pids=$(session_pids)
        [ -z "$pids" ] && break
        sleep 0.05
    done
    [ -n "$pids" ] && kill -KILL $pids 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# X display: let Xvfb pick a free display number and tell us which.
exec 3<> "$work/display"
Xvfb -displayfd 3 -screen 0 2560x1440x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xpid=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.05
done
export DISPLAY=":$(head -n1 "$work/display")"

export XDG_RUNTIME_DIR="$work/run"
export HOME="$work/home"
mkdir -p "$XDG_RUNTIME_DIR" "$HOME"
chmod 700 "$XDG_RUNTIME_DIR"

# D-Bus: a session bus of our own; services it starts on demand (the accessibility bus)
# belong to the session and end with it.
export DBUS_SESSION_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/bus"
if ! dbus-daemon --session --fork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS" >"$work/dbus.log" 2>&1; then
    echo "warning: the D-Bus session bus did not start; accessibility tests will fail" >&2
    cat "$work/dbus.log" >&2 || true
fi

# Sound: a private PulseAudio with a null sink named korvanda_null.
pa_args=(--daemonize=yes --exit-idle-time=-1 -n --use-pid-file=yes
         --load="module-null-sink sink_name=korvanda_null"
         --load="module-native-protocol-unix"
         --load="module-always-sink")
[ "$(id -u)" -eq 0 ] && pa_args+=(--system=false --disallow-module-loading=false)
if pulseaudio "${pa_args[@]}" >"$work/pulse.log" 2>&1; then
    for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
    pactl set-default-sink korvanda_null >/dev/null 2>&1 || true
    export KORVANDA_TEST_SINK=korvanda_null
else
    echo "warning: PulseAudio did not start; sound tests will skip" >&2
    cat "$work/pulse.log" >&2 || true
fi
"$@"
