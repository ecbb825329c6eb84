#!/usr/bin/env bash
# The Promise API from a page in headless Chromium, beside a bare fetch, a bare WebSocket echo and
# sqlite3 -json in the same run (see bench/web_bench.mjs for what each line measures).
#   bench/web_bench.sh [BUILD_DIR]        ROUNDS=N sets the rounds (default 3; medians are shown)
# Needs the build's zentrak-host, Chromium, sqlite3 and tests/e2e's playwright-core (installed
# here from its lock file when missing).
set -euo pipefail
build=$(realpath "${1:-build}")
[ -x "$build/host/zentrak-host" ] || { echo "build the target zentrak-host first" >&2; exit 1; }
here=$(cd "$(dirname "$0")" && pwd)
e2e="$here/../tests/e2e"
if [ ! -d "$e2e/node_modules/playwright-core" ]; then
  (cd "$e2e" && npm ci --no-audit --no-fund --loglevel=error)
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 "$here/make_data.py" "$work" >/dev/null
node "$here/web_bench.mjs" "$build" "$work"
