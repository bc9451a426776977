#!/usr/bin/env bash
# Runs a command inside a private X display (Xvfb) and a private PulseAudio server
# whose default sink is a null sink, then stops both. Nothing of the user's own
# session is touched: the server's runtime folder is a temporary one.
# usage: scripts/session.sh <command...>
set -euo pipefail
work=$(mktemp -d /tmp/korvanda-session.XXXXXX)
cleanup() {
    [ -n "${xpid:-}" ] && kill "$xpid" 2>/dev/null || true
    if [ -n "${XDG_RUNTIME_DIR:-}" ]; then
        pulseaudio --kill 2>/dev/null || true
    fi
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

# Sound: a private PulseAudio with a null sink named korvanda_null.
export XDG_RUNTIME_DIR="$work/run"
export HOME="$work/home"
mkdir -p "$XDG_RUNTIME_DIR" "$HOME"
chmod 700 "$XDG_RUNTIME_DIR"
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
