#!/usr/bin/env bash
# Writes the seed corpus of fuzz_http_parser into DIR: request heads of the kinds browsers and
# local programs send, and of the kinds the parser refuses. Each file's first byte is where the
# target splits the rest into two reads.
#   host/fuzz_seeds_http.sh DIR
set -euo pipefail
dir=${1:?usage: $0 DIR}
mkdir -p "$dir"
n=0
seed() {  # seed SPLIT TEXT (printf escapes allowed in TEXT)
  n=$((n + 1))
  { printf "\\$(printf '%03o' "$1")"; printf '%b' "$2"; } >"$dir/seed$n"
}
h='Host: 127.0.0.1:48620\r\n'
seed 5 "GET /zentrak.js HTTP/1.1\r\n$h\r\n"
seed 20 "POST /api?session=0123456789abcdef0123456789abcdef HTTP/1.1\r\n${h}Origin: https://intranet.example\r\nContent-Type: application/json\r\nContent-Length: 16\r\n\r\n{\"op\":\"session\"}"
seed 0 "\r\n\r\nGET / HTTP/1.0\r\nConnection: keep-alive\r\n\r\n"
seed 30 "OPTIONS /api HTTP/1.1\r\n${h}Origin: https://intranet.example\r\nAccess-Control-Request-Method: POST\r\nAccess-Control-Request-Private-Network: true\r\n\r\n"
seed 12 "GET http://127.0.0.1:48620/demo?x=1&y=%41+b HTTP/1.1\r\n\r\n"
seed 40 "POST /api HTTP/1.1\r\n${h}Expect: 100-continue\r\nContent-Length: 2\r\nX-Many: a\r\nx-many: b\r\n\r\n{}GET / HTTP/1.1\r\n\r\n"
seed 3 "HEAD /zentrak.mjs HTTP/1.1\r\n${h}Connection: close\r\n\r\n"
seed 9 "GET / HTTP/1.1\n$h\n"
seed 17 "POST / HTTP/1.1\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n"
seed 1 "POST / HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n"
seed 22 "GET / HTTP/2.0\r\nX: a\r\n folded\r\n\r\n"
seed 8 "G(T /\x01 HTTP/1.1\r\n\r\n"
