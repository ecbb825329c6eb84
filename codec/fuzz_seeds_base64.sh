#!/usr/bin/env bash
# Writes the seed corpus of fuzz_base64 into DIR: canonical Base64 of every length remainder,
# padding variants, texts with characters outside the alphabet, and raw bytes.
#   codec/fuzz_seeds_base64.sh DIR
set -euo pipefail
dir=${1:?usage: $0 DIR}
mkdir -p "$dir"
python3 - "$dir" <<'PY'
import base64, os, sys
seeds = [base64.b64encode(bytes(range(n))) for n in range(0, 12)]
seeds += [b"QQ", b"QQ=", b"QQ==", b"QQ===", b"QUJD\nREVG", b"QU JD", b"Q", b"====", b"-_-_", b"\xff\xfe",
          bytes(range(256)), b"UEsDBBQAAAAIAA=="]
for i, s in enumerate(seeds):
    open(os.path.join(sys.argv[1], "seed-%d" % i), "wb").write(s)
PY
