#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer,
# and runs the whole test suite (GUI tests on a private Xvfb display, sound tests on a
# private PulseAudio null sink). Ends with ctest's summary.
set -euo pipefail
cd "$(dirname "$0")"
build=${KORVANDA_TEST_BUILD:-build-test}
scripts/setup.sh "$build" -DCMAKE_BUILD_TYPE=Debug -DKORVANDA_SANITIZE=ON -DKORVANDA_WERROR=ON -DKORVANDA_BUILD_BENCH=OFF
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
scripts/check-package.sh
scripts/session.sh ctest --test-dir "$build" --output-on-failure -j "$(nproc)" "$@"
