#!/usr/bin/env bash
# Installs what is missing, builds, and starts Korvanda on the current display.
set -euo pipefail
cd "$(dirname "$0")"
build=${KORVANDA_BUILD:-build}
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "Korvanda needs a graphical display (X11 or Wayland), and none is set." >&2
    echo "Start it from a desktop session, or for a headless try: xvfb-run ./run.sh" >&2
    exit 1
fi
scripts/setup.sh "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
exec "$build/src/korvanda" "$@"
