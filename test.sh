#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer,
# and runs the whole test suite (GUI tests on a private Xvfb display, sound tests on a
# private PulseAudio null sink). As root, the Debian package is built and checked beside
# all that; its report follows the tests, and ctest's summary is repeated at the end.
set -euo pipefail
cd "$(dirname "$0")"
build=${KORVANDA_TEST_BUILD:-build-test}
scripts/setup.sh --packages-only
# The package's Release build runs at the lowest priority beside the sanitizer build and the
# tests: it takes the time the links leave and the tests spend waiting on real-time sound
# and the display, and the tests keep the processors whenever they want them.
package_log=$(mktemp /tmp/korvanda-check-package.XXXXXX)
nice -n 19 scripts/check-package.sh >"$package_log" 2>&1 &
package=$!
trap 'kill "$package" 2>/dev/null || true; rm -f "$package_log"' EXIT
# The tests are built by clang, in well under half the time GCC takes for an unoptimised,
# instrumented build; the package is built by GCC with warnings as errors too, so both
# compilers' warnings stop a change.
scripts/setup.sh "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug -DKORVANDA_SANITIZE=ON \
    -DKORVANDA_WERROR=ON -DKORVANDA_BUILD_BENCH=OFF
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
tests=0
scripts/session.sh ctest --test-dir "$build" --output-on-failure -j "$(nproc)" "$@" 2>&1 | tee "$build/ctest.log" \
    || tests=$?
package_status=0
wait "$package" || package_status=$?
cat "$package_log"
[ "$package_status" -eq 0 ] || echo "test.sh: the package check failed"
# ctest's summary once more, last, where a reader of the log looks for it.
echo
sed -n '/tests passed\|tests failed/,$p' "$build/ctest.log"
[ "$package_status" -eq 0 ] || exit "$package_status"
exit "$tests"
