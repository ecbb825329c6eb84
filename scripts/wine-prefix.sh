#!/usr/bin/env bash
# Creates a fresh Wine prefix inside a build folder, so that nothing depends on the user's own:
#   scripts/wine-prefix.sh <build-dir>
# Any earlier prefix there is removed first. Prints the prefix's path.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=wine-env.sh
. "$here/wine-env.sh"

[ $# -ge 1 ] || { echo "usage: $0 <build-dir>" >&2; exit 2; }
mkdir -p "$1"
zentrak_wine_env "$1"

"$ZENTRAK_WINESERVER" -k >/dev/null 2>&1 || true
rm -rf "$WINEPREFIX"
log="$1/wineprefix.log"
if ! zentrak_wine wineboot -i >"$log" 2>&1; then
  echo "wine-prefix: wineboot failed; see $log" >&2
  tail -n 20 "$log" >&2
  exit 1
fi
# wineboot returns before the prefix's services have settled; wait for them.
"$ZENTRAK_WINESERVER" -w
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine-prefix: no registry was written in $WINEPREFIX; see $log" >&2
  exit 1
fi
echo "$WINEPREFIX"
