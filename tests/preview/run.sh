#!/usr/bin/env bash
# PrintServer.preview end to end: zentrak-host under Xvfb beside a private cupsd, driven over HTTP
# and through xdotool (preview_test.py). Run inside tests/cups/with_cupsd.sh, which provides the
# scheduler and its file-device queues:
#   tests/cups/with_cupsd.sh bash tests/preview/run.sh BUILD_DIR [SCREENSHOT_DIR]
# Xvfb is stopped by its PID at the end.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: run.sh BUILD_DIR [SCREENSHOT_DIR]}" && pwd)
host="$build/host/zentrak-host"
[ -x "$host" ] || { echo "preview tests: $host is missing" >&2; exit 1; }
if [ -z "${ZENTRAK_CUPS_ROOT:-}" ]; then
  echo "preview tests: skipped (no private cupsd: run them as root through tests/cups/with_cupsd.sh)"
  exit 0
fi
for tool in Xvfb xdotool import convert lpstat ipptool pdfinfo; do
  command -v "$tool" >/dev/null || { echo "preview tests: $tool is missing" >&2; exit 1; }
done

fifo=$(mktemp -u /tmp/zentrak-xvfb.XXXXXX)
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
xvfb=$!
stop_xvfb() {
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
  rm -f "$fifo"
}
trap stop_xvfb EXIT
read -r -t 10 number <"$fifo" || { echo "Xvfb did not start" >&2; exit 1; }

DISPLAY=":$number" python3 "$here/preview_test.py" "$host" "${2:-}"
