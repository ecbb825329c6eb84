#!/usr/bin/env bash
# Installs the Debian packages Zentrak needs. Idempotent; run as root (or through sudo). Set
# ZENTRAK_SKIP_APT=1 to skip.
#   scripts/install-deps.sh host   what building and running zentrak-host needs (scripts/run.sh)
#   scripts/install-deps.sh [all]  everything: the unit tests, the cross-built Windows module and
#                                  its Wine suites, the browser tests, fuzzing and the benchmarks
#                                  (scripts/test.sh)
set -euo pipefail

if [ "${ZENTRAK_SKIP_APT:-0}" = "1" ]; then exit 0; fi
what=${1:-all}
case "$what" in host | all) ;; *) echo "usage: $0 [host|all]" >&2; exit 2 ;; esac
SUDO=""
if [ "$(id -u)" != "0" ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

# zentrak-host: the compiler and build tools, SQLite, zlib, the JSON library of the wire, GLib's
# main loop and GTK 3 for its windows (the origin question, the file chooser, the message boxes,
# the print preview) with a font for their Chinese texts (WenQuanYi Micro Hei: 5 MB installed,
# where Noto CJK takes 90 MB); printing: libcups for the printers and jobs, poppler and cairo for
# the PDF engine and the preview.
host=(
  build-essential cmake ninja-build pkg-config
  libsqlite3-dev zlib1g-dev nlohmann-json3-dev
  libglib2.0-dev libgtk-3-dev fonts-wqy-microhei
  libcups2-dev libpoppler-glib-dev libcairo2-dev
)
# The unit tests and the layer check; the locales they switch to; the package test (curl);
# the browser tests (Chromium and Firefox ESR, and Xvfb with xdotool for the origin question's window); the fuzz
# targets (clang); the benchmarks' companions (sqlite3, hyperfine); a private cupsd with
# pdftopdf, ipptool and the CUPS clients for the printing tests, and the tools that read printed
# PDFs and screenshots.
tests=(
  libgtest-dev googletest python3 locales curl git
  chromium firefox-esr xvfb xdotool
  clang libclang-rt-14-dev
  sqlite3 hyperfine
  cups cups-filters cups-ipp-utils cups-client poppler-utils imagemagick
)
# The man page check of the host's package renders the page with groff.
tests+=(groff-base)
# The Windows module: the mingw-w64 cross compiler with widl and the IDL files it imports, zlib
# for mingw, and Wine in both widths (32-bit Wine needs the i386 architecture).
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

wanted=("${host[@]}")
need_update=0
# npm fetches pdf.js for the host's viewer element, and for everything else the SQLite
# amalgamation of the Windows build and the browser tests' client. A Node.js from elsewhere that
# brings its own npm is kept.
if ! command -v npm >/dev/null 2>&1; then wanted+=(nodejs npm); fi
if [ "$what" = all ]; then
  wanted+=("${tests[@]}" "${windows[@]}")
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
    need_update=1
  fi
fi

todo=$(missing "${wanted[@]}")
if [ -n "$todo" ]; then
  $SUDO apt-get update
  # shellcheck disable=SC2086
  $SUDO apt-get install -y --no-install-recommends $todo
elif [ "$need_update" = "1" ]; then
  $SUDO apt-get update
fi

[ "$what" = all ] || exit 0

# Locales the unit tests switch to: a comma as the decimal separator (de_DE), and case rules for
# I and i that are not ASCII's (tr_TR).
for loc in de_DE tr_TR; do
  if ! locale -a 2>/dev/null | grep -qi "^$loc\\.utf-\\?8\$"; then
    $SUDO localedef -i "$loc" -f UTF-8 "$loc.UTF-8" || true
  fi
done
