#!/usr/bin/env bash
# Builds the Windows module with the mingw-w64 cross compiler and tests it under Wine:
#   scripts/test-windows.sh <native-build-dir> [windows-build-dir]
# The module (32-bit, the shipped Zentrak.ocx) is built in <repo>/build-win unless a folder is
# given, and its file is checked: machine, exports, imported DLLs, resources. The Wine suites then
# run in a fresh prefix inside the build folder. A kernel without 32-bit emulation cannot start
# 32-bit Wine; there the suites run against the 64-bit twin of the module (same sources, same type
# library), built beside it in <windows-build-dir>64, in a 64-bit prefix.
# The last line is "N passed, N failed"; the exit code is 1 when anything failed.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/.." && pwd)
# shellcheck source=wine-env.sh
. "$here/wine-env.sh"
# shellcheck source=counts.sh
. "$here/counts.sh"

[ $# -ge 1 ] || { echo "usage: $0 <native-build-dir> [windows-build-dir]" >&2; exit 2; }
native=$1
win=${2:-$repo/build-win}
jobs=${ZENTRAK_JOBS:-2}

# A generator already built by the native tree is used as it is.
idlgen_args=()
for g in "$native/server/com/idlgen/zentrak_idlgen" "$native/zentrak_idlgen"; do
  if [ -x "$g" ]; then idlgen_args=(-DZENTRAK_IDLGEN="$(cd "$(dirname "$g")" && pwd)/$(basename "$g")"); break; fi
done

# cross_build <dir> <toolchain> <target> [cmake options...]
cross_build() {
  local dir=$1 toolchain=$2 target=$3 log
  shift 3
  mkdir -p "$dir"
  log="$dir/test-windows-build.log"
  echo "== cross build: $dir ($(basename "$toolchain" .cmake))"
  if ! cmake -S "$repo" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
      "${idlgen_args[@]}" "$@" >"$log" 2>&1; then
    tail -n 30 "$log"
    return 1
  fi
  if ! ninja -C "$dir" -j "$jobs" "$target" >>"$log" 2>&1; then
    grep -E 'error|FAILED' "$log" | head -n 30
    return 1
  fi
}

# The test programs are built for the module that the suites will run against.
run_32=0
if [ "${ZENTRAK_WINE_BITS:-}" = 32 ] || { [ "${ZENTRAK_WINE_BITS:-}" != 64 ] && zentrak_wine_can_run_32; }; then run_32=1; fi
if [ $run_32 = 1 ]; then product_target=zentrak_wine_tests; else product_target=zentrak_ocx; fi
if cross_build "$win" "$repo/cmake/mingw-i686.cmake" $product_target; then pass; else fail "cross build (i686)"; finish; fi
ocx="$win/Zentrak.ocx"

# --- The module's file ----------------------------------------------------------------------
objdump=i686-w64-mingw32-objdump
windres=i686-w64-mingw32-windres
headers=$($objdump -p "$ocx")
if $objdump -f "$ocx" | grep -q 'file format pei-i386'; then pass; else fail "Zentrak.ocx is not a 32-bit module"; fi
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" | sed -n 's/^\s*\[ *[0-9]*\] //p' | sort | tr '\n' ' ')
if [ "$exports" = "DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer " ]; then
  pass
else
  fail "exports: [$exports]"
fi
# Only DLLs of the system: the C++ runtime, zlib and SQLite are inside the module.
system_dlls=" advapi32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll user32.dll winspool.drv shell32.dll comctl32.dll version.dll "
while read -r dll; do
  if [[ "$system_dlls" == *" ${dll,,} "* ]]; then pass; else fail "imports a DLL that is not the system's: $dll"; fi
done < <(sed -n 's/^\s*DLL Name: //p' <<<"$headers")

rc_text=$($windres -i "$ocx" -O rc 2>/dev/null | tr -d '\r')
expect_rc() {
  if grep -qE -- "$2" <<<"$rc_text"; then pass; else fail "resource: $1"; fi
}
expect_rc "type library 1" '^1 "TYPELIB"'
expect_rc "toolbox bitmap 1" '^1 2 /\* RT_BITMAP'
expect_rc "file version 1.0.4.0" 'FILEVERSION 1, *0, *4, *0'
expect_rc "product version text" 'VALUE "ProductVersion", "1.0.0.0'
expect_rc "self-registering" 'VALUE "OleSelfRegister", "1'
expect_rc "string table block 080403a8" 'BLOCK "080403[aA]8"'
expect_rc "translation 0x0804, 936" 'VALUE "Translation", 0x804, 936'
expect_rc "the verb's name" '"Properties"'
for name in CompanyName FileDescription FileVersion InternalName LegalCopyright ProductName; do
  expect_rc "empty $name" "VALUE \"$name\", \"(\\\\0)?\""
done
# The embedded type library is the one the build compiled, byte for byte.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
if $windres -i "$ocx" -O res -o "$tmp/all.res" 2>/dev/null &&
   python3 - "$tmp/all.res" "$win/server/com/generated/zentrak.tlb" "$win/server/com/generated/toolbox.bmp" <<'EOF'
import struct, sys
data = open(sys.argv[1], "rb").read()
tlb = open(sys.argv[2], "rb").read()
bmp = open(sys.argv[3], "rb").read()
found = {}
pos = 0
def ident(buf, at):
    if struct.unpack_from("<H", buf, at)[0] == 0xFFFF:
        return struct.unpack_from("<H", buf, at + 2)[0], at + 4
    end = at
    while struct.unpack_from("<H", buf, end)[0] != 0:
        end += 2
    return buf[at:end].decode("utf-16-le"), end + 2
while pos + 8 <= len(data):
    size, header = struct.unpack_from("<II", data, pos)
    kind, p = ident(data, pos + 8)
    name, p = ident(data, p)
    body = data[pos + header: pos + header + size]
    found[(kind, name)] = body
    pos = (pos + header + size + 3) & ~3
ok = found.get(("TYPELIB", 1)) == tlb
# A bitmap resource is the file without its 14-byte file header: 16 x 15, 4 bits, 16 colours.
b = found.get((2, 1), b"")
ok = ok and b == bmp[14:] and struct.unpack_from("<iiHH", b, 4) == (16, 15, 1, 4)
sys.exit(0 if ok else 1)
EOF
then
  pass
else
  fail "embedded type library or toolbox bitmap differs from the build's"
fi

# --- Under Wine -----------------------------------------------------------------------------
target=$win
if [ $run_32 = 0 ]; then
  echo "== this kernel cannot run 32-bit programs: the suites run against the 64-bit twin"
  export ZENTRAK_WINE_BITS=64
  target="${win%/}64"
  # A test vehicle only: built for a short build rather than for speed.
  if cross_build "$target" "$repo/cmake/mingw-x86_64.cmake" zentrak_wine_tests -DZENTRAK_SQLITE_OPTIMIZE=-O0 \
      "-DCMAKE_CXX_FLAGS_RELEASE=-O1 -DNDEBUG" "-DCMAKE_C_FLAGS_RELEASE=-O1 -DNDEBUG"; then
    pass
  else
    fail "cross build (x86_64)"
    finish
  fi
fi
echo "== Wine prefix"
if "$here/wine-prefix.sh" "$target" >/dev/null; then pass; else fail "Wine prefix"; finish; fi
echo "== Wine suites"
"$here/wine-run-tests.sh" "$target" >"$target/wine-tests.log" 2>&1
count_summary "the Wine suites" "$target/wine-tests.log"
finish
