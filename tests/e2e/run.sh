#!/usr/bin/env bash
# End-to-end tests of zentrak-host in headless Chromium, and the client's own tests also in
# headless Firefox ESR:
#   tests/e2e/run.sh BUILD_DIR
# Installs playwright-core, puppeteer-core and typescript from the committed package-lock.json (npm ci) when
# they are missing or the lock changed, builds nothing, and closes with "N passed, N failed".
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)

if [ ! -x "$build/host/zentrak-host" ]; then
  echo "no $build/host/zentrak-host: build the target zentrak-host first" >&2
  echo "0 passed, 1 failed"
  exit 1
fi
if [ ! -x /usr/bin/chromium ]; then
  echo "no /usr/bin/chromium: run scripts/install-deps.sh" >&2
  echo "0 passed, 1 failed"
  exit 1
fi

# puppeteer-core drives Debian's firefox-esr; it never downloads a browser of its own.
export PUPPETEER_SKIP_DOWNLOAD=1
stamp="$here/node_modules/.zentrak-lock"
if ! cmp -s "$here/package-lock.json" "$stamp" 2>/dev/null; then
  (cd "$here" && npm ci --no-audit --no-fund --loglevel=error)
  cp "$here/package-lock.json" "$stamp"
fi

exec node "$here/run.mjs" "$build"
