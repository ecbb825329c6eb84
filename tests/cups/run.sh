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

# shellcheck source=private_cupsd.sh
. "$here/private_cupsd.sh"
start_private_cupsd

ZENTRAK_CUPS_ROOT="$root" ZENTRAK_CUPS_PORT="$port" ZENTRAK_CUPS_PPD="$here/passthrough.ppd" \
  python3 "$here/print_test.py" "$host"
