#!/usr/bin/env bash
# Writes the seed corpus of fuzz_convert into DIR: number, boolean and date texts, each as 8-bit
# text and as UTF-16, and a few dates as eight bytes.
#   automation/fuzz_seeds_convert.sh DIR
set -euo pipefail
dir=${1:?usage: $0 DIR}
mkdir -p "$dir"
python3 - "$dir" <<'PY'
import os, struct, sys
texts = ["0", "-1", "2147483647", "2147483648", "-2147483649", "9223372036854775807", "9223372036854775808",
         " 12 ", "1,234", "1.5", "2.5", "-0.5", "1e3", "1E-3", "&H7F", "True", "false", "yes", "", " ", "abc",
         "1.7976931348623157e308", "1e400", "0x10", "+5", "--5", "1,2,3", "\u00a0" + "7"]
for i, t in enumerate(texts):
    open(os.path.join(sys.argv[1], "text-%d" % i), "wb").write(t.encode("utf-8"))
    open(os.path.join(sys.argv[1], "wide-%d" % i), "wb").write(t.encode("utf-16-le"))
for i, d in enumerate([0.0, 1.5, -1.25, 45000.75, 2958465.99999, -657434.0, 1e300]):
    open(os.path.join(sys.argv[1], "date-%d" % i), "wb").write(struct.pack("<d", d))
PY
