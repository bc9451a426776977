#!/usr/bin/env bash
# Starts the real program on the test's X display and checks that its window
# appears under its title and is drawn (a screenshot that is not blank).
# usage: smoke.sh <korvanda binary> <artifact folder>
set -euo pipefail
binary=$1
artifacts=$2
mkdir -p "$artifacts"
if [ -z "${DISPLAY:-}" ]; then
    echo "SKIP: no X display (run the tests through test.sh)"
    exit 0
fi
work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT
# A copy of its own, so the settings files beside it are the test's.
cp "$binary" "$work/korvanda"
QT_QPA_PLATFORM=xcb "$work/korvanda" >"$work/log" 2>&1 &
pid=$!

# Qt also makes a 1x1 leader window under the program's name; the main window
# is the one with the client area's width, 14355 twips (the menu bar adds to
# its height).
id=""
for _ in $(seq 200); do
    id=$(xwininfo -root -tree 2>/dev/null | grep '"Korvanda"' | grep -E ' 957x(6[0-9][0-9])\+' | head -n1 | awk '{print $1}' || true)
    [ -n "$id" ] && break
    sleep 0.1
done
if [ -z "$id" ]; then
    echo "FAIL: no 957 pixels wide window titled Korvanda appeared"
    xwininfo -root -tree | grep -i korvanda || true
    cat "$work/log"
    exit 1
fi
echo "window $id"

# Look at it until it has painted (a loaded machine may take a while).
drawn=""
for _ in $(seq 20); do
    sleep 0.5
    import -window "$id" "$artifacts/main-window.png"
    deviation=$(convert "$artifacts/main-window.png" -colorspace Gray -format '%[fx:standard_deviation]' info:)
    colours=$(convert "$artifacts/main-window.png" -format '%k' info:)
    if awk -v d="$deviation" -v c="$colours" 'BEGIN { exit !(d > 0.05 && c > 50) }'; then
        drawn=yes
        break
    fi
done
echo "grey deviation $deviation, $colours colours"
[ -n "$drawn" ] || { echo "FAIL: the window looks blank"; exit 1; }
kill "$pid"
wait "$pid" 2>/dev/null || true
echo "PASS"
