#!/usr/bin/env bash
# Printing against a real CUPS: starts a private cupsd (as root, without systemd) whose server
# root, spool and logs live in a temporary folder, adds file-device queues whose PPD passes PDF
# through pdftopdf, and runs print_test.py, which drives PrintServer through `zentrak-host --stdio`
# and reads the printed files and the job attributes. The scheduler is stopped by its PID at the
# end.
#   tests/cups/run.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
host="$build/host/zentrak-host"
[ -x "$host" ] || { echo "cups tests: $host is missing" >&2; exit 1; }
for tool in cupsd lpadmin ipptool pdfinfo pdftotext; do
  command -v "$tool" >/dev/null || [ -x "/usr/sbin/$tool" ] || { echo "cups tests: $tool is missing" >&2; exit 1; }
done
if [ "$(id -u)" != "0" ]; then
  echo "cups tests: skipped (the private cupsd runs as root)"
  exit 0
fi

root=$(mktemp -d /tmp/zentrak-cups.XXXXXX)
chmod 755 "$root"  # the filters run as lp and need to pass through
pid=""
stop() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill "$pid"
    wait "$pid" 2>/dev/null || true
  fi
  if [ "${ZENTRAK_KEEP_CUPS:-0}" = "1" ]; then echo "cups tests: kept $root"; else rm -rf "$root"; fi
}
trap stop EXIT

mkdir -p "$root/etc/ppd" "$root/spool/tmp" "$root/cache" "$root/state" "$root/log" "$root/out" "$root/client" "$root/home"
chmod 777 "$root/out"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat > "$root/etc/cupsd.conf" <<CONF
LogLevel warn
Listen $root/cups.sock
Listen 127.0.0.1:$port
Browsing Off
WebInterface No
DefaultAuthType None
PreserveJobHistory Yes
PreserveJobFiles No
MaxJobs 0
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  JobPrivateAccess all
  JobPrivateValues none
  SubscriptionPrivateAccess all
  SubscriptionPrivateValues none
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF
cat > "$root/etc/cups-files.conf" <<CONF
ServerRoot $root/etc
RequestRoot $root/spool
TempDir $root/spool/tmp
CacheDir $root/cache
StateDir $root/state
ServerBin /usr/lib/cups
DataDir /usr/share/cups
ErrorLog $root/log/error_log
AccessLog $root/log/access_log
PageLog $root/log/page_log
User lp
Group lp
SystemGroup root
FileDevice Yes
CONF
chmod 640 "$root/etc/cupsd.conf" "$root/etc/cups-files.conf"

cupsd=$(command -v cupsd || echo /usr/sbin/cupsd)
"$cupsd" -f -c "$root/etc/cupsd.conf" -s "$root/etc/cups-files.conf" &
pid=$!

export CUPS_SERVER="$root/cups.sock"
# Clients keep their lpoptions in the temporary folder: root's go to CUPS_SERVERROOT, everyone
# else's to ~/.cups.
export CUPS_SERVERROOT="$root/client"
export HOME="$root/home"
unset LPDEST PRINTER
for _ in $(seq 100); do
  [ -S "$root/cups.sock" ] && lpstat -r >/dev/null 2>&1 && break
  sleep 0.1
done
lpstat -r >/dev/null || { echo "cups tests: cupsd did not start" >&2; cat "$root/log/error_log" >&2 || true; exit 1; }

# Two queues that write what pdftopdf makes to a file (lpadmin warns that PPDs are deprecated).
for queue in ZentrakA ZentrakB; do
  lpadmin -p "$queue" -E -v "file://$root/out/$queue.pdf" -P "$here/passthrough.ppd" 2> >(grep -v deprecated >&2)
done

ZENTRAK_CUPS_ROOT="$root" ZENTRAK_CUPS_PORT="$port" ZENTRAK_CUPS_PPD="$here/passthrough.ppd" \
  python3 "$here/print_test.py" "$host"
