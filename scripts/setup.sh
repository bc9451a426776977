#!/usr/bin/env bash
# Installs the Debian packages that are missing, then configures and builds.
# usage: scripts/setup.sh [--target <name>] <build-dir> [cmake options...]
#        scripts/setup.sh --packages-only
# With --target, only that target (and what it needs) is built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target=()
packages_only=
if [ "${1:-}" = --target ]; then
    target=(--target "$2"); shift 2
elif [ "${1:-}" = --packages-only ]; then
    packages_only=1; shift
fi

mapfile -t wanted < <(grep -v -E '^\s*(#|$)' "$root/scripts/packages.txt")
missing=()
for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "Installing missing packages: ${missing[*]}"
    sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq || true
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
[ -z "$packages_only" ] || exit 0
build=$1; shift

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja "$@"
fi
cmake --build "$build" --parallel "$(nproc)" "${target[@]}"
