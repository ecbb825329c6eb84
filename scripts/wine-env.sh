# Sourced by the wine-*.sh scripts: chooses the Wine loader and the prefix inside a build folder.
#
#   zentrak_wine_env <build-dir>
#
# exports WINEPREFIX=<build-dir>/wineprefix, WINEARCH, WINEDEBUG=-all and
#   ZENTRAK_WINE        the loader to run programs with
#   ZENTRAK_WINESERVER  the matching wineserver
#   ZENTRAK_WINE_BITS   32 or 64
# The module ships as a 32-bit DLL and is tested in a 32-bit prefix. A kernel built without 32-bit
# emulation cannot start 32-bit Wine at all; there the suites run in a 64-bit prefix against the
# 64-bit twin of the module, built from the same sources. ZENTRAK_WINE_BITS=32|64 forces a choice.

zentrak_wine_can_run_32() {
  [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

zentrak_wine_env() {
  local build_dir
  build_dir=$(cd "$1" && pwd)
  local bits="${ZENTRAK_WINE_BITS:-}"
  if [ -z "$bits" ]; then
    if zentrak_wine_can_run_32; then bits=32; else bits=64; fi
  fi
  if [ "$bits" = 32 ]; then
    export ZENTRAK_WINE=/usr/lib/wine/wine WINEARCH=win32
    ZENTRAK_WINESERVER=/usr/lib/wine/wineserver32
    [ -x "$ZENTRAK_WINESERVER" ] || ZENTRAK_WINESERVER=/usr/lib/wine/wineserver64
  else
    export ZENTRAK_WINE=/usr/lib/wine/wine64 WINEARCH=win64
    ZENTRAK_WINESERVER=/usr/lib/wine/wineserver64
  fi
  if [ ! -x "$ZENTRAK_WINE" ]; then
    echo "wine-env: $ZENTRAK_WINE is missing (install wine32:i386 or wine64)" >&2
    return 1
  fi
  export ZENTRAK_WINESERVER ZENTRAK_WINE_BITS="$bits"
  export WINEPREFIX="$build_dir/wineprefix"
  export WINEDEBUG=-all
  # No Mono or Gecko installer at the first start, no desktop menu entries.
  export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
  # Nothing here needs a display; an inherited one would only make Wine open windows on it.
  unset DISPLAY WAYLAND_DISPLAY
}

# Runs a Windows program in the prefix: zentrak_wine prog.exe args...
zentrak_wine() {
  "$ZENTRAK_WINE" "$@"
}

# Unix path to the Windows path of drive Z:, which maps the root folder.
zentrak_winpath() {
  local p
  p=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
  printf 'Z:%s' "${p//\//\\}"
}
