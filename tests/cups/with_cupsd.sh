#!/usr/bin/env bash
# Runs a command beside a private cupsd (private_cupsd.sh) and stops the scheduler afterwards:
#   tests/cups/with_cupsd.sh COMMAND...
# The command sees CUPS_SERVER, ZENTRAK_CUPS_ROOT (the scheduler's folder; printed files are in
# out/QUEUE.pdf) and ZENTRAK_CUPS_PORT (its loopback port, for ipptool). HOME stays the caller's: root's lpoptions live in CUPS_SERVERROOT anyway.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ "$(id -u)" != "0" ]; then
  "$@"
  exit
fi
home=$HOME
# shellcheck source=private_cupsd.sh
. "$here/private_cupsd.sh"
start_private_cupsd
export HOME=$home ZENTRAK_CUPS_ROOT="$root" ZENTRAK_CUPS_PORT="$port"
status=0
"$@" || status=$?
exit $status
