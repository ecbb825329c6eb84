#!/usr/bin/env bash
# Installs every Debian package that building and testing Zentrak needs, on Linux and for the
# cross-built Windows module. Idempotent; run as root (or through sudo). Set ZENTRAK_SKIP_APT=1 to skip.
set -euo pipefail

if [ "${ZENTRAK_SKIP_APT:-0}" = "1" ]; then exit 0; fi
SUDO=""
if [ "$(id -u)" != "0" ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

native=(
  build-essential cmake pkg-config ninja-build git
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libsqlite3-dev sqlite3 zlib1g-dev nlohmann-json3-dev
  libglib2.0-dev libgtk-3-dev libpoppler-glib-dev libcups2-dev
  clang libclang-rt-14-dev
  locales xvfb xdotool poppler-utils imagemagick
  chromium chromium-driver
  python3 curl hyperfine
)
windows=(
  mingw-w64 mingw-w64-tools libwine-dev libz-mingw-w64-dev
  wine wine32:i386 libcups2:i386
  wine64
)

missing() {
  local out=()
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      out+=("$p")
    fi
  done
  echo "${out[@]:-}"
}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  need_update=1
fi

todo=$(missing "${native[@]}" "${windows[@]}")
if [ -n "$todo" ]; then
  $SUDO apt-get update
  # shellcheck disable=SC2086
  $SUDO apt-get install -y --no-install-recommends $todo
elif [ "${need_update:-0}" = "1" ]; then
  $SUDO apt-get update
fi

# A locale whose decimal separator is a comma, for the tests of the locale-aware conversions.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  $SUDO localedef -i de_DE -f UTF-8 de_DE.UTF-8 || true
fi
# A locale whose case rules for I and i are not ASCII's, for the tests of name look-ups.
if ! locale -a 2>/dev/null | grep -qi '^tr_TR\.utf-\?8$'; then
  $SUDO localedef -i tr_TR -f UTF-8 tr_TR.UTF-8 || true
fi
