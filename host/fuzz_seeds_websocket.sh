#!/usr/bin/env bash
# Seeds of fuzz_websocket: a few masked client frames (a split byte first), written to folder $1.
set -euo pipefail
out=$1
mkdir -p "$out"
python3 - "$out" <<'PY'
import os, sys
out = sys.argv[1]
def frame(first, payload, mask=b"\x11\x22\x33\x44"):
    n = len(payload)
    head = bytes([first])
    if n < 126: head += bytes([0x80 | n])
    elif n < 65536: head += bytes([0xFE]) + n.to_bytes(2, "big")
    else: head += bytes([0xFF]) + n.to_bytes(8, "big")
    return head + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(payload))
seeds = {
    "text": frame(0x81, b'[{"op":"call","object":1,"name":"GetVersion"}]'),
    "fragments": frame(0x01, b'[{"op":') + frame(0x89, b"p") + frame(0x80, b'"ping"}]'),
    "close": frame(0x88, b"\x03\xe8bye"),
    "long": frame(0x81, b"x" * 300),
    "binary": frame(0x82, bytes(range(256))),
}
for name, data in seeds.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(bytes([len(data) // 2 % 256]) + data)
PY
