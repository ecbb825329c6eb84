#!/usr/bin/env bash
# Writes the seed corpus of fuzz_decompress into DIR: the sample zip archives, their Base64 forms
# and a few archives of our own writer's shape.
#   codec/fuzz_seed_corpus.sh DIR
set -euo pipefail
dir=${1:?usage: $0 DIR}
samples="$(dirname "$0")/../../shared/testdata/zip-legacy"
mkdir -p "$dir"
for f in "$samples"/*.zip; do
  name=$(basename "$f" .zip)
  cp "$f" "$dir/$name.zip"
  base64 -w0 "$f" >"$dir/$name.b64"
done
# One-entry archives named PDF: empty (the 106-byte archive) and a short text, deflated and stored.
python3 - "$dir" <<'PY'
import base64, os, struct, sys, zlib
def archive(data, method):
    body = data
    if method == 8:
        c = zlib.compressobj(6, zlib.DEFLATED, -15, 8)
        body = c.compress(data) + c.flush()
    crc = zlib.crc32(data)
    local = struct.pack('<IHHHHHIIIHH', 0x04034B50, 20, 0, method, 0, 0x21, crc, len(body), len(data), 3, 0) + b'PDF'
    central = struct.pack('<IHHHHHHIIIHHHHHII', 0x02014B50, 45, 20, 0, method, 0, 0x21, crc, len(body), len(data),
                          3, 0, 0, 0, 0, 0x20, 0) + b'PDF'
    end = struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, 1, 1, len(central), len(local) + len(body), 0)
    return local + body + central + end
for name, data, method in [('empty', b'', 8), ('text', b'Hello, hello, hello PDF text\r\n' * 20, 8),
                           ('stored', b'stored bytes', 0)]:
    a = archive(data, method)
    open(os.path.join(sys.argv[1], name + '.zip'), 'wb').write(a)
    open(os.path.join(sys.argv[1], name + '.b64'), 'wb').write(base64.b64encode(a))
PY
