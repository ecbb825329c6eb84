#!/usr/bin/env bash
# Runs the viewer control's container (zentrak_viewer_host.exe) on an X display and drives it:
#   tests/wine/viewer_run.sh <windows-build-dir> <work-dir> engine|no-engine
# REQUIRES: DISPLAY names a running X server (Xvfb), the Wine environment of scripts/wine-env.sh,
# and the module registered in the prefix. When the program is ready it writes the screen position
# of the form's centre; this clicks there, types "axc" with xdotool, keeps a screenshot of the
# screen as <windows-build-dir>/viewer-<mode>.png, and lets the program go on. Prints the
# program's output, whose last line is "RESULT <passed> <failed>"; exits with its exit code.
set -uo pipefail
build=$1
work=$2
mode=$3
dir="$work/viewer-$mode"
rm -rf "$dir"
mkdir -p "$dir"
winpath() {
  local p
  p=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
  printf 'Z:%s' "${p//\//\\}"
}

"$ZENTRAK_WINE" "$build/wine-tests/zentrak_viewer_host.exe" "$mode" "$(winpath "$dir")" >"$dir/out.txt" 2>&1 &
program=$!
for _ in $(seq 1 600); do
  [ -f "$dir/ready" ] && break
  kill -0 "$program" 2>/dev/null || break
  sleep 0.1
done
if [ -f "$dir/ready" ]; then
  read -r x y <"$dir/ready"
  xdotool mousemove "$x" "$y" click 1
  sleep 0.3
  xdotool type --delay 80 axc
  sleep 0.5
  import -window root "$build/viewer-$mode.png" 2>/dev/null || echo "FAIL screenshot of the viewer ($mode)"
  touch "$dir/driven"
fi
wait "$program"
rc=$?
cat "$dir/out.txt"
exit $rc
