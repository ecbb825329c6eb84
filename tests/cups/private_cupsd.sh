# A private cupsd for the printing tests and the printing benchmark. Sourced:
#   . tests/cups/private_cupsd.sh; start_private_cupsd
# starts the scheduler as root (without systemd) with its server root, spool and logs in a
# temporary folder, listening on a Unix socket and a loopback port, with file-device queues
# ZentrakA and ZentrakB whose PPD passes PDF through pdftopdf to the file $root/out/QUEUE.pdf.
# It sets root, port and pid, exports CUPS_SERVER (clients reach only this scheduler),
# CUPS_SERVERROOT and HOME (lpoptions stay in the folder), and stops the scheduler by its PID
# and removes the folder on exit (ZENTRAK_KEEP_CUPS=1 keeps the folder).
cups_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

stop_private_cupsd() {
  if [ -n "${pid:-}" ] && kill -0 "$pid" 2>/dev/null; then
    kill "$pid"
    wait "$pid" 2>/dev/null || true
  fi
  if [ "${ZENTRAK_KEEP_CUPS:-0}" = "1" ]; then echo "kept $root"; else rm -rf "$root"; fi
}

start_private_cupsd() {
  root=$(mktemp -d /tmp/zentrak-cups.XXXXXX)
  chmod 755 "$root"  # the filters run as lp and need to pass through
  pid=""
  trap stop_private_cupsd EXIT

  mkdir -p "$root/etc/ppd" "$root/spool/tmp" "$root/cache" "$root/state" "$root/log" "$root/out" \
    "$root/client" "$root/home"
  chmod 777 "$root/out"
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  # Job attributes are public, so that ipptool reads the job name of anyone's job.
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

  local cupsd
  cupsd=$(command -v cupsd || echo /usr/sbin/cupsd)
  "$cupsd" -f -c "$root/etc/cupsd.conf" -s "$root/etc/cups-files.conf" &
  pid=$!

  export CUPS_SERVER="$root/cups.sock"
  # Root's lpoptions go to CUPS_SERVERROOT, everyone else's to ~/.cups.
  export CUPS_SERVERROOT="$root/client"
  export HOME="$root/home"
  unset LPDEST PRINTER
  for _ in $(seq 100); do
    [ -S "$root/cups.sock" ] && lpstat -r >/dev/null 2>&1 && break
    sleep 0.1
  done
  if ! lpstat -r >/dev/null 2>&1; then
    echo "cupsd did not start" >&2
    cat "$root/log/error_log" >&2 || true
    return 1
  fi
  # lpadmin warns that PPDs are deprecated.
  local queue
  for queue in ZentrakA ZentrakB; do
    lpadmin -p "$queue" -E -v "file://$root/out/$queue.pdf" -P "$cups_here/passthrough.ppd" 2> >(grep -v deprecated >&2)
  done
}
