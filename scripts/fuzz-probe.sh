#!/usr/bin/env bash
# Fuzzes the length probe, the kept lengths and the set-list reader with libFuzzer for a bounded time. Not part of ./test.sh or CI.
# Installs clang and its fuzzer runtime when missing, builds in build-fuzz/, generates a seed
# corpus from the media generators, and runs one fuzzing process. A crash, a leak, undefined behaviour or
# an input that takes longer than 5 s (a hang) stops the run and fails the script; the input
# is left as build-fuzz/crash-* / timeout-* / oom-*.
# usage: scripts/fuzz-probe.sh [seconds=180] [extra libFuzzer options...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-180}
shift || true
build=${KORVANDA_FUZZ_BUILD:-$root/build-fuzz}

missing=()
for p in clang libclang-rt-14-dev; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "Installing missing packages: ${missing[*]}"
    sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq || true
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The project's own build packages come from scripts/setup.sh; only the two fuzz programs
# are built here, not the whole program.
if [ ! -f "$build/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVANDA_FUZZ=ON -DKORVANDA_SANITIZE=ON \
        -DKORVANDA_BUILD_TESTS=OFF -DKORVANDA_BUILD_BENCH=OFF
fi
cmake --build "$build" --target fuzz_mediaprobe fuzz_seeds

seeds=$build/fuzz-seeds
corpus=$build/fuzz-corpus
[ -n "$(ls -A "$seeds" 2>/dev/null)" ] || "$build/fuzz/fuzz_seeds" "$seeds"
mkdir -p "$corpus"

cd "$build"
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
exec "$build/fuzz/fuzz_mediaprobe" "$corpus" "$seeds" \
    -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 -max_len=131072 \
    -print_final_stats=1 "$@"
