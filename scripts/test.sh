#!/usr/bin/env bash
# Installs what is missing, builds both products and runs every test: the unit tests through
# CTest (each under the UTF-8 and the GBK code page), a short run of every fuzz target, the Windows
# module's suites under Wine, and the host's end-to-end tests in headless Chromium.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
build=${ZENTRAK_BUILD:-$here/build}
jobs=${ZENTRAK_JOBS:-2}

bash scripts/install-deps.sh

# ZENTRAK_TEST_CLASSES: the browser tests drive events through the host's test-only class.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZENTRAK_TEST_CLASSES=ON
cmake --build "$build" -j "$jobs"
(cd "$build" && ctest --output-on-failure -j "$jobs")

# The fuzz regression run: every fuzz target over its seed corpus for a short fixed time, in a
# clang build of its own. The sanitizer run of the unit tests is scripts/sanitize.sh (too long to
# fit this run on a two-core machine).
bash scripts/fuzz.sh "$build-fuzz" "${ZENTRAK_FUZZ_SECONDS:-30}"

if [ -x scripts/test-windows.sh ] || [ -f scripts/test-windows.sh ]; then
  bash scripts/test-windows.sh "$build"
fi
if [ -f tests/e2e/run.sh ]; then
  bash tests/e2e/run.sh "$build"
fi
