#!/usr/bin/env bash
# Copies the client assembled by the build into the zentrak-client package (client/):
#   scripts/update-client-package.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
cmake --build "$build" --target zentrak_client_package
cp "$build/host/client/zentrak.js" "$build/host/client/zentrak.mjs" "$root/host/web/zentrak.d.ts" "$root/client/"
