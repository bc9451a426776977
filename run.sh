#!/usr/bin/env bash
# Installs what is missing, builds the program (only the program: no tests, no
# benchmarks), and starts Korvanda on the current display.
set -euo pipefail
cd "$(dirname "$0")"
build=${KORVANDA_BUILD:-build}
scripts/setup.sh --target korvanda "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
# Checked after the build: setup installs xvfb too, so the advice below works
# as written even on a fresh machine.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "Korvanda is built ($build/src/korvanda), but needs a graphical display (X11 or Wayland), and none is set." >&2
    echo "Start it from a desktop session, or for a headless try: xvfb-run ./run.sh" >&2
    exit 1
fi
exec "$build/src/korvanda" "$@"
