#!/usr/bin/env bash
# Site management, the log and --autostart, through the host binary:
# - --sites lists the kept answers with their time; --forget removes one, and a running host
#   follows the change at its next request;
# - the sites page serves only the host's own pages, and a Forget needs its origin and token;
# - the log holds sessions, refusals with their reason, forgets and the stop; --verbose prints
#   each request on standard error;
# - --autostart gives way to a host on its port, to the session's lock and to the systemd unit.
#   host/sites_test.sh path/to/zentrak-host
set -uo pipefail
host=${1:?usage: $0 path/to/zentrak-host}
command -v curl >/dev/null || { echo "SKIPPED: curl is not installed"; exit 77; }

dir=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  rm -rf "$dir"
}
trap cleanup EXIT
export XDG_STATE_HOME=$dir/state XDG_RUNTIME_DIR=$dir/run USERPROFILE=$dir
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$dir/run"
config=$dir/host.json
log=$dir/state/zentrak/host.log
fail=0
check() {  # check WHAT EXPECTED GOT
  if [ "$2" != "$3" ]; then echo "FAIL: $1: expected [$2], got [$3]"; fail=1; fi
}
contains() {  # contains WHAT FILE TEXT
  grep -qF -- "$3" "$2" || { echo "FAIL: $1: no \"$3\" in $2:"; cat "$2"; fail=1; }
}

# Starts a host with the given options; sets port and leaves its pid in pids.
start_host() {
  rm -f "$dir/out"
  "$host" --port 0 --config "$config" --no-prompt "$@" >"$dir/out" 2>"$dir/err" &
  pids+=($!)
  port=
  for _ in $(seq 100); do
    port=$(grep -o '127\.0\.0\.1:[0-9]*' "$dir/out" 2>/dev/null | head -1 | cut -d: -f2)
    [ -n "$port" ] && return 0
    sleep 0.1
  done
  echo "FAIL: the host did not start: $(cat "$dir/out" "$dir/err")"
  exit 1
}
stop_host() {
  local p=${pids[-1]}
  kill "$p"; wait "$p" 2>/dev/null
  unset 'pids[-1]'
}
# status METHOD PATH [curl options]: the HTTP status of one request.
status() {
  local method=$1 path=$2
  shift 2
  curl -s -o "$dir/body" -w '%{http_code}' -X "$method" "$@" "http://127.0.0.1:$port$path"
}
session_status() {  # session_status ORIGIN
  status POST /api -H "Origin: $1" -H 'Content-Type: application/json' -d '{"op":"session"}'
}

cat >"$config" <<'EOF'
{"port": 0,
 "allowedOrigins": ["https://kept.example", "https://Hand.example"],
 "blockedOrigins": ["https://bad.example"],
 "decidedAt": {"https://kept.example": "2026-01-02T03:04:05Z", "https://bad.example": "2026-01-03T00:00:00Z"}}
EOF

# --- the command line -------------------------------------------------------------------------
check "--sites" "allowed  https://kept.example  2026-01-02 03:04:05 UTC
allowed  https://hand.example  -
blocked  https://bad.example  2026-01-03 00:00:00 UTC" "$("$host" --config "$config" --sites)"
"$host" --config "$config" --forget not-an-origin >/dev/null 2>&1
check "--forget of no origin exits" 2 $?
check "--version" "zentrak-host $(sed -n 's/^project(Zentrak VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../CMakeLists.txt")" \
  "$("$host" --version)"

# --- a running host follows --forget -----------------------------------------------------------
start_host --allow-origin https://run.example --verbose
check "a kept origin is served" 200 "$(session_status https://kept.example)"
check "a blocked origin is refused" 403 "$(session_status https://bad.example)"
check "--forget" "forgot https://kept.example" "$("$host" --config "$config" --forget HTTPS://KEPT.example:443)"
check "after --forget, the running host asks again (refuses, with no window)" 403 "$(session_status https://kept.example)"
"$host" --config "$config" --forget https://kept.example 2>/dev/null
check "--forget of an origin not kept exits" 1 $?
check "an origin given for this run stays" 200 "$(session_status https://run.example)"

# --- the sites page ----------------------------------------------------------------------------
check "the sites page, visited" 200 "$(status GET /sites)"
contains "the sites page lists the blocked origin" "$dir/body" "https://bad.example"
contains "the sites page lists the run's origins" "$dir/body" "https://run.example"
token=$(grep -o 'name="token" value="[0-9a-f]*"' "$dir/body" | head -1 | sed 's/.*value="\(.*\)"/\1/')
check "the page carries a token" 32 "${#token}"
own=http://127.0.0.1:$port
for refused in "Origin: https://run.example" "Origin: https://evil.example" "Origin: null" "Sec-Fetch-Site: cross-site"; do
  check "GET /sites with $refused" 403 "$(status GET /sites -H "$refused")"
  check "POST /sites/forget with $refused" 403 \
    "$(status POST /sites/forget -H "$refused" --data "token=$token&origin=https%3A%2F%2Fbad.example")"
done
check "the page's own origin may read it" 200 "$(status GET /sites -H "Origin: $own" -H 'Sec-Fetch-Site: same-origin')"
check "a forget without the page's token" 403 \
  "$(status POST /sites/forget -H "Origin: $own" --data "token=0123&origin=https%3A%2F%2Fbad.example")"
check "a forget without an origin (not from a page)" 403 \
  "$(status POST /sites/forget --data "token=$token&origin=https%3A%2F%2Fbad.example")"
check "the refusals left the list as it was" "allowed  https://hand.example  -
blocked  https://bad.example  2026-01-03 00:00:00 UTC" "$("$host" --config "$config" --sites)"
check "a forget from the page" 200 \
  "$(status POST /sites/forget -H "Origin: $own" --data "token=$token&origin=https%3A%2F%2Fbad.example")"
contains "the page says so" "$dir/body" "https://bad.example is forgotten"
check "the file follows the page" "allowed  https://hand.example  -" "$("$host" --config "$config" --sites)"
check "the forgotten block no longer applies as a block (unknown, refused without a window)" 403 \
  "$(session_status https://bad.example)"
stop_host

# --- the log and --verbose ---------------------------------------------------------------------
contains "log: a session" "$log" "session 1 opened for https://kept.example"
contains "log: a blocked origin" "$log" "refused https://bad.example: blocked"
contains "log: an unknown origin" "$log" "refused https://kept.example: not approved, and this host asks no one"
contains "log: --forget" "$log" "forgot https://kept.example (zentrak-host --forget)"
contains "log: the page's forget" "$log" "forgot https://bad.example (on the sites page)"
contains "log: the page refused to another origin" "$log" "refused the sites page to https://evil.example"
contains "log: sessions end at the stop" "$log" "ended: the host stopped"
contains "log: the stop" "$log" "stopped"
contains "--verbose: a request's op" "$dir/err" "POST /api 200 [session 1] session"
grep -q 'GET /sites 200 [0-9.]* ms' "$dir/err" || { echo "FAIL: --verbose: no timed line for GET /sites"; cat "$dir/err"; fail=1; }

# --- --autostart -------------------------------------------------------------------------------
free_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
# Another host holds the port: nothing to do.
"$host" --port "$free_port" --config "$config" --no-prompt >"$dir/a.out" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -qs listening "$dir/a.out" && break; sleep 0.1; done
out=$(timeout 10 "$host" --autostart --port "$free_port" --config "$config" 2>&1)
check "--autostart beside a running host exits 0" 0 $?
check "... quietly" "" "$out"
stop_host
# Another autostarted host holds the session's lock (it may not have listened yet).
exec 9>"$dir/run/zentrak-host-$free_port.lock"
flock 9
out=$(timeout 10 "$host" --autostart --port "$free_port" --config "$config" 2>&1)
check "--autostart with the lock held exits 0" 0 $?
check "... quietly" "" "$out"
exec 9>&-
# A systemd user manager runs: the unit is started, with the session's display, or left off.
mkdir -p "$dir/run/systemd" "$dir/bin"
touch "$dir/run/systemd/private"
cat >"$dir/bin/systemctl" <<EOF
#!/bin/sh
echo "\$*" >>"$dir/systemctl.calls"
case "\$*" in *is-enabled*) exit \$(cat "$dir/enabled") ;; esac
exit 0
EOF
chmod +x "$dir/bin/systemctl"
echo 0 >"$dir/enabled"
PATH=$dir/bin:$PATH timeout 10 "$host" --autostart --port "$free_port" --config "$config"
check "--autostart under systemd exits 0" 0 $?
check "--autostart under systemd starts the unit" "--user --quiet is-enabled zentrak-host.service
--user import-environment DISPLAY WAYLAND_DISPLAY XAUTHORITY
--user start zentrak-host.service" "$(cat "$dir/systemctl.calls")"
rm "$dir/systemctl.calls"
echo 1 >"$dir/enabled"
PATH=$dir/bin:$PATH timeout 10 "$host" --autostart --port "$free_port" --config "$config"
check "--autostart with the unit disabled exits 0" 0 $?
check "... and starts nothing" "--user --quiet is-enabled zentrak-host.service" "$(cat "$dir/systemctl.calls")"
rm -r "$dir/run/systemd"
# Nothing else runs: this one serves, and holds the lock.
rm -f "$dir/out"  # not the last host's: the new one may not have opened it yet
"$host" --autostart --port "$free_port" --config "$config" --no-prompt >"$dir/out" 2>"$dir/err" &
pids+=($!)
for _ in $(seq 100); do grep -qs listening "$dir/out" && break; sleep 0.1; done
contains "--autostart alone serves" "$dir/out" "listening on http://127.0.0.1:$free_port/"
flock -n "$dir/run/zentrak-host-$free_port.lock" true && { echo "FAIL: the serving autostarted host holds no lock"; fail=1; }
stop_host

# --- stopping while a call's window is open (needs Xvfb) ----------------------------------------
# SIGTERM arrives inside the file chooser's nested loop: the chooser closes as cancelled, the call
# answers, and the host stops.
if command -v Xvfb >/dev/null; then
  display=:$((90 + RANDOM % 400))
  Xvfb "$display" -screen 0 1024x768x24 >/dev/null 2>&1 &
  xvfb=$!
  pids+=($xvfb)
  sleep 1
  rm -f "$dir/out"
  DISPLAY=$display "$host" --port 0 --config "$config" --no-prompt >"$dir/out" 2>"$dir/err" &
  pids+=($!)
  for _ in $(seq 100); do grep -qs listening "$dir/out" && break; sleep 0.1; done
  port=$(grep -o '127\.0\.0\.1:[0-9]*' "$dir/out" | head -1 | cut -d: -f2)
  token=$(curl -s -X POST -d '{"op":"session"}' "http://127.0.0.1:$port/api" | sed 's/.*"session":"\([0-9a-f]*\)".*/\1/')
  curl -s -X POST -d '{"id":1,"op":"create","progid":"Zentrak.FileSystemObject"}' "http://127.0.0.1:$port/api?session=$token" >/dev/null
  curl -s -m 20 -X POST -d '{"id":2,"op":"call","object":1,"name":"selectFiles","args":[false]}' \
    "http://127.0.0.1:$port/api?session=$token" >"$dir/chosen" &
  chooser=$!
  sleep 1.5
  kill "${pids[-1]}"
  for _ in $(seq 50); do kill -0 "${pids[-1]}" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "${pids[-1]}" 2>/dev/null; then
    echo "FAIL: SIGTERM did not stop the host while the file chooser was open"
    kill -KILL "${pids[-1]}"
    fail=1
  fi
  wait "${pids[-1]}" 2>/dev/null
  unset 'pids[-1]'
  wait "$chooser"
  check "the chooser's call answers as cancelled" '{"id":2,"ok":true,"value":""}' "$(cat "$dir/chosen")"
  check "stopping with a window open prints nothing" "" "$(cat "$dir/err")"
else
  echo "(no Xvfb: stopping with a window open is not checked)"
fi

[ "$fail" = 0 ] && echo "sites, log and autostart: ok"
exit "$fail"
