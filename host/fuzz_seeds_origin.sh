#!/usr/bin/env bash
# Writes the seed corpus of fuzz_origin into DIR: Origin and Host header texts, each behind the
# two bytes (big-endian) of the port the target gives the host.
#   host/fuzz_seeds_origin.sh DIR
set -euo pipefail
dir=${1:?usage: $0 DIR}
mkdir -p "$dir"
n=0
seed() {  # seed PORT TEXT
  n=$((n + 1))
  { printf "\\$(printf '%03o' $(($1 >> 8)))\\$(printf '%03o' $(($1 & 255)))"; printf '%s' "$2"; } >"$dir/seed$n"
}
for text in 127.0.0.1:48620 'localhost:48620' 'LOCALHOST:48620' '[::1]:48620' 'evil.example:48620' 127.0.0.1 \
            '127.0.0.1:048620' '[::1' 'http://127.0.0.1:48620' 'https://intranet.example' \
            'HTTPS://INTRANET.example:443/' 'http://intranet.example:80' 'https://evil.example' 'null' \
            'https://user@intranet.example' 'https://intranet.example/path' 'http://[::1]:48620' \
            'http://[fe80::1%25eth0]:1' 'https://xn--nxasmq6b.example:65535' 'https://a.example:65536' \
            'chrome-extension://abcdefghijklmnop' 'file://' 'https://:443'; do
  seed 48620 "$text"
done
seed 80 'localhost'
seed 443 'https://intranet.example:443'
