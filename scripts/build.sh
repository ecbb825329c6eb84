#!/usr/bin/env bash
# Installs what is missing and builds in ${ZENTRAK_BUILD:-./build} with ${ZENTRAK_JOBS:-2} jobs:
#   scripts/build.sh host   zentrak-host alone, from the host's packages only (scripts/run.sh)
#   scripts/build.sh all    everything, with the unit tests and the benchmark programs
#                           (scripts/test.sh)
# Both give their options explicitly, so that they can take turns in one build folder.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
what=${1:-all}
build=${ZENTRAK_BUILD:-$here/build}
jobs=${ZENTRAK_JOBS:-2}

case "$what" in
  host) options=(-DZENTRAK_TESTS=OFF -DZENTRAK_BENCH=OFF -DZENTRAK_TEST_CLASSES=OFF) target=(--target zentrak-host) ;;
  # ZENTRAK_TEST_CLASSES: the browser tests drive events through the host's test-only class,
  # which the host serves only when started with --test-classes.
  all) options=(-DZENTRAK_TESTS=ON -DZENTRAK_BENCH=ON -DZENTRAK_TEST_CLASSES=ON) target=() ;;
  *) echo "usage: $0 [host|all]" >&2; exit 2 ;;
esac

bash scripts/install-deps.sh "$what"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}"
cmake --build "$build" -j "$jobs" "${target[@]}"
