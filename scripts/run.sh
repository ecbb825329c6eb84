#!/usr/bin/env bash
# Installs what is missing, builds zentrak-host in ./build and starts it in the foreground on its
# default port (48620). Open http://127.0.0.1:48620/demo in a browser; Ctrl+C stops the host.
# Further arguments go to zentrak-host (zentrak-host --help lists them), e.g.
#   scripts/run.sh --allow-origin https://intranet.example
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
build=${ZENTRAK_BUILD:-$here/build}

bash scripts/build.sh host

# The host's own pages (the demo) are always approved; other origins are asked about in a
# window, or refused when there is no display.
exec "$build/host/zentrak-host" "$@"
