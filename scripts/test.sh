#!/usr/bin/env bash
# Installs what is missing, builds both products and runs every test: the unit tests through
# CTest (each under the UTF-8 and the GBK code page), the printing tests against a private cupsd,
# the print preview under Xvfb, a short run of every fuzz target, the Windows module's suites
# under Wine, and the host's end-to-end tests in headless Chromium.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
build=${ZENTRAK_BUILD:-$here/build}
jobs=${ZENTRAK_JOBS:-2}

bash scripts/build.sh all
(cd "$build" && ctest --output-on-failure -j "$jobs")
# Printing against a private cupsd (started and stopped by the script).
bash tests/cups/run.sh "$build"
# The print preview window under Xvfb, printing to a private cupsd's queues.
bash tests/cups/with_cupsd.sh bash tests/preview/run.sh "$build"

# The fuzz regression run: every fuzz target over its seed corpus for a short fixed time, in a
# clang build of its own. The sanitizer run of the unit tests is scripts/sanitize.sh (too long to
# fit this run on a two-core machine).
bash scripts/fuzz.sh "$build-fuzz" "${ZENTRAK_FUZZ_SECONDS:-30}"

if [ -x scripts/test-windows.sh ] || [ -f scripts/test-windows.sh ]; then
  # Beside a private cupsd, so that the module prints through Wine's winspool to a test queue.
  bash tests/cups/with_cupsd.sh bash scripts/test-windows.sh "$build"
fi
if [ -f tests/e2e/run.sh ]; then
  # Beside a private cupsd, so that the demo's Printing panel prints to a test queue.
  bash tests/cups/with_cupsd.sh bash tests/e2e/run.sh "$build"
fi
