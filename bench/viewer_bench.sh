#!/usr/bin/env bash
# Times the viewer element's preview of a 5 MB, 200-page PDF in headless Chromium, on the host's
# demo page: the call (the host writes the ToPrint file), the first page drawn (OnPaint), and
# the layout of all pages. Usage: bench/viewer_bench.sh [BUILD_DIR] [RUNS]
# Uses the browser tests' Playwright client (tests/e2e/node_modules; tests/e2e/run.sh installs it).
set -euo pipefail
build=$(realpath "${1:-build}")
runs=${2:-5}
here=$(cd "$(dirname "$0")" && pwd)
[ -x "$build/host/zentrak-host" ] || { echo "build the target zentrak-host first" >&2; exit 1; }
[ -d "$here/../tests/e2e/node_modules/playwright-core" ] || (cd "$here/../tests/e2e" && npm ci --no-audit --no-fund --loglevel=error)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$work/big.pdf" <<PY
import sys
sys.path.insert(0, "$here/../tests/cups")
from sample_pdf import A4, make_pdf
pages = [(A4[0], A4[1], 0, "Page%d" % i, 72, 700, 24) for i in range(1, 201)]
open(sys.argv[1], "wb").write(make_pdf(pages, filler=26000))
PY
USERPROFILE="$work" node "$here/viewer_bench.mjs" "$build/host/zentrak-host" "$work/big.pdf" "$runs"
