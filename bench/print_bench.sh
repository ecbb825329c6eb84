#!/usr/bin/env bash
# Times printOut of a 5 MB, 200-page PDF, from the call until CUPS has accepted the job, beside
# `lp` of the same file to the same queue, against a private cupsd (as root, as the printing
# tests start it). Usage: bench/print_bench.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build=$(realpath "${1:-build}")
runs=${2:-9}
bench="$build/bench/print_bench"
[ -x "$bench" ] || { echo "build the target print_bench first" >&2; exit 1; }
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../tests/cups/private_cupsd.sh
. "$here/../tests/cups/private_cupsd.sh"
start_private_cupsd

doc="$root/big.pdf"
python3 - "$doc" <<PY
import sys
sys.path.insert(0, "$here/../tests/cups")
from sample_pdf import A4, make_pdf
pages = [(A4[0], A4[1], 0, "Page%d" % i, 72, 700, 24) for i in range(1, 201)]
open(sys.argv[1], "wb").write(make_pdf(pages, filler=26000))
PY
"$bench" ZentrakA "$doc" "$runs"
