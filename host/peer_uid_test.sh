#!/usr/bin/env bash
# Connections from another account are refused. Starts zentrak-host as root and calls it as
# `nobody` (through setpriv), over IPv4 and IPv6: 403 and a log line; the same calls as root are
# served. Needs root, setpriv and curl; exits 77 (skipped) without them.
#   host/peer_uid_test.sh path/to/zentrak-host
set -uo pipefail
host=${1:?usage: $0 path/to/zentrak-host}
if [ "$(id -u)" != 0 ]; then
  echo "SKIPPED: the peer check test starts the host as root and calls it as nobody; run it as root"
  exit 77
fi
for tool in setpriv curl; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: $tool is not installed"
    exit 77
  fi
done

dir=$(mktemp -d)
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT

USERPROFILE=$dir "$host" --port 0 --config "$dir/host.json" --no-prompt >"$dir/out" 2>"$dir/err" &
pid=$!
port=
for _ in $(seq 100); do
  port=$(sed -n 's/.*listening on http:\/\/127\.0\.0\.1:\([0-9]*\)\/.*/\1/p' "$dir/out")
  [ -n "$port" ] && break
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "FAIL: zentrak-host did not start"; cat "$dir/out" "$dir/err"
  exit 1
fi

passed=0 failed=0
# expect WHO ADDRESS STATUS: a session request as WHO to ADDRESS answers STATUS.
expect() {
  local who=$1 address=$2 want=$3 run=()
  [ "$who" = nobody ] && run=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  local got
  got=$(HOME=/nonexistent "${run[@]}" curl -s -o /dev/null -w '%{http_code}' --max-time 10 \
        -X POST --data-binary '{"op":"session"}' "http://$address:$port/api")
  if [ "$got" = "$want" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1)); echo "FAIL: $who to $address: $got, expected $want"
  fi
}
expect nobody 127.0.0.1 403
expect root 127.0.0.1 200
if grep -q 'listening' "$dir/out" && curl -s -o /dev/null --max-time 5 "http://[::1]:$port/zentrak.js" 2>/dev/null; then
  expect nobody '[::1]' 403
  expect root '[::1]' 200
fi
# The body of the refusal says why, and the host logged it.
body=$(HOME=/nonexistent setpriv --reuid=nobody --regid=nogroup --clear-groups curl -s --max-time 10 \
       "http://127.0.0.1:$port/zentrak.js")
if [[ $body == *"serves only the programs of its own user"* ]]; then passed=$((passed + 1)); else
  failed=$((failed + 1)); echo "FAIL: the refusal's body: $body"; fi
if grep -q 'refused a connection: 127.0.0.1:[0-9]* belongs to uid 65534' "$dir/err"; then passed=$((passed + 1)); else
  failed=$((failed + 1)); echo "FAIL: no log line; the host's errors:"; cat "$dir/err"; fi

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
