#!/usr/bin/env bash
# Builds the .deb from a built tree and checks it: its file list (dpkg-deb -c), its fields, and
# that the host it holds starts from the unpacked package and serves its own files.
#   packaging/package_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
host_pid=
cleanup() {
  if [ -n "$host_pid" ]; then kill "$host_pid" 2>/dev/null || true; wait "$host_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/out/zentrak-host_*.deb)

fail=0
contents=$(dpkg-deb -c "$deb")
for f in ./usr/bin/zentrak-host \
         ./usr/share/zentrak/zentrak.js ./usr/share/zentrak/zentrak.mjs ./usr/share/zentrak/zentrak.d.ts \
         ./usr/share/zentrak/demo/index.html ./usr/share/zentrak/demo/demo.js ./usr/share/zentrak/demo/demo.css \
         ./usr/share/zentrak/demo/favicon.svg \
         ./usr/lib/systemd/user/zentrak-host.service ./usr/share/doc/zentrak-host/README \
         ./usr/lib/systemd/user-preset/80-zentrak-host.preset ./etc/xdg/autostart/zentrak-host.desktop \
         ./usr/share/man/man1/zentrak-host.1.gz; do
  if ! grep -q " $f\$" <<<"$contents"; then echo "missing from the package: $f"; fail=1; fi
done
if ! grep -q '^-rwxr-xr-x .* ./usr/bin/zentrak-host$' <<<"$contents"; then echo "zentrak-host is not executable"; fail=1; fi
[ "$(dpkg-deb -f "$deb" Package)" = zentrak-host ] || { echo "wrong Package field"; fail=1; }
depends=$(dpkg-deb -f "$deb" Depends)
grep -q fonts-wqy-microhei <<<"$(dpkg-deb -f "$deb" Recommends)" || { echo "Recommends lacks a CJK font"; fail=1; }
for lib in libgtk-3 libsqlite3 libcups2 libpoppler-glib; do
  grep -q "$lib" <<<"$depends" || { echo "Depends lacks $lib: $depends"; fail=1; }
done

# Starts at login: the unit is enabled for every user (preset, and postinst for users who exist
# already), and the autostart entry runs the host in a way that never starts a second one.
dpkg-deb -e "$deb" "$work/control"
grep -q '^/etc/xdg/autostart/zentrak-host.desktop$' "$work/control/conffiles" ||
  { echo "the autostart entry is not a conffile"; fail=1; }
grep -q 'systemctl --global enable zentrak-host.service' "$work/control/postinst" ||
  { echo "postinst does not enable the user service"; fail=1; }
grep -q 'systemctl --global disable zentrak-host.service' "$work/control/prerm" ||
  { echo "prerm does not disable the user service"; fail=1; }
for script in postinst prerm; do
  [ -x "$work/control/$script" ] || { echo "$script is not executable"; fail=1; }
  sh -n "$work/control/$script" || { echo "$script is no shell script"; fail=1; }
done

# The unpacked host serves the files it carries.
dpkg-deb -x "$deb" "$work/root"
grep -qx 'enable zentrak-host.service' "$work/root/usr/lib/systemd/user-preset/80-zentrak-host.preset" ||
  { echo "the preset does not enable the unit"; fail=1; }
desktop=$work/root/etc/xdg/autostart/zentrak-host.desktop
grep -qx 'Exec=/usr/bin/zentrak-host --autostart' "$desktop" || { echo "the autostart entry does not run --autostart"; fail=1; }
grep -qx 'X-GNOME-HiddenUnderSystemd=true' "$desktop" ||
  { echo "the autostart entry would run beside the unit in systemd sessions"; fail=1; }
grep -q '^WantedBy=graphical-session.target$' "$work/root/usr/lib/systemd/user/zentrak-host.service" ||
  { echo "the unit is not wanted by the graphical session"; fail=1; }
zcat "$work/root/usr/share/man/man1/zentrak-host.1.gz" | groff -man -Tascii -ww >/dev/null 2>"$work/groff.err"
[ -s "$work/groff.err" ] && { echo "the packaged man page: $(cat "$work/groff.err")"; fail=1; }
"$work/root/usr/bin/zentrak-host" --version | grep -qx "zentrak-host $(dpkg-deb -f "$deb" Version)" ||
  { echo "--version differs from the package's version"; fail=1; }
grep -q '^ExecStart=/usr/bin/zentrak-host$' "$work/root/usr/lib/systemd/user/zentrak-host.service" ||
  { echo "the unit does not start /usr/bin/zentrak-host"; fail=1; }
env -u DISPLAY -u WAYLAND_DISPLAY "$work/root/usr/bin/zentrak-host" --port 0 --config "$work/host.json" \
  >"$work/host.out" 2>&1 &
host_pid=$!
for _ in $(seq 50); do grep -q 'listening on' "$work/host.out" && break; sleep 0.1; done
port=$(grep -o '127\.0\.0\.1:[0-9]*' "$work/host.out" | head -1 | cut -d: -f2)
if [ -z "$port" ]; then echo "the packaged host did not start: $(cat "$work/host.out")"; exit 1; fi
for path in /demo /zentrak.js; do
  code=$(curl -s -o "$work/got" -w '%{http_code}' "http://127.0.0.1:$port$path")
  [ "$code" = 200 ] || { echo "GET $path answered $code"; fail=1; }
done
cmp -s "$work/got" "$work/root/usr/share/zentrak/zentrak.js" || { echo "served zentrak.js differs from the packaged one"; fail=1; }

if [ "$fail" = 0 ]; then echo "package ok: $(basename "$deb")"; fi
exit "$fail"
