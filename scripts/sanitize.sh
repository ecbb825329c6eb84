#!/usr/bin/env bash
# The unit tests in a build with AddressSanitizer and UndefinedBehaviorSanitizer:
#   scripts/sanitize.sh [BUILD_DIR]     (default build-sanitize)
# Configures its own folder with -DZENTRAK_SANITIZE=ON, builds and runs CTest; any report of
# either sanitizer fails the run.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
build=${1:-$here/build-sanitize}
jobs=${ZENTRAK_JOBS:-2}
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

started=$(date +%s)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZENTRAK_SANITIZE=ON -DZENTRAK_BENCH=OFF \
  "${launcher[@]}"
cmake --build "$build" -j "$jobs"
built=$(date +%s)
# Leaks are reports too; a UB report stops the test (-fno-sanitize-recover).
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
(cd "$build" && ctest --output-on-failure -j "$jobs")
echo "sanitizer run: build $((built - started)) s, tests $(($(date +%s) - built)) s"
