#!/usr/bin/env bash
# Times the codec's Base64 encoder and decoder as whole processes beside coreutils base64 on a
# 64 MiB file of random bytes, and prints the ratios of the mean wall times.
#   bench/base64_bench.sh [BUILD_DIR]      (default: build)
# Uses hyperfine when it is installed, else /usr/bin/time; output goes to /dev/null for all.
set -euo pipefail

build=${1:-build}
bench="$build/bench/base64_bench"
[ -x "$bench" ] || { echo "no $bench: build the target base64_bench first" >&2; exit 1; }
bench=$(realpath "$bench")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c $((64 << 20)) /dev/urandom >"$work/random.bin"
base64 -w0 "$work/random.bin" >"$work/random.b64"

# Both tools must agree before their speed means anything.
cmp <("$bench" encode "$work/random.bin") "$work/random.b64"
cmp <("$bench" decode "$work/random.b64") "$work/random.bin"

# mean_seconds COMMAND: the mean wall time of a whole run.
mean_seconds() {
  if command -v hyperfine >/dev/null; then
    hyperfine -N --warmup 3 --runs 20 --export-json "$work/h.json" "$1" >&2
    python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["results"][0]["mean"])' "$work/h.json"
  else
    local total=0 t
    for _ in 1 2 3 4 5 6 7 8 9 10; do
      t=$( { /usr/bin/time -f %e sh -c "$1 >/dev/null" ; } 2>&1 )
      total=$(echo "$total + $t" | bc -l)
    done
    echo "$total / 10" | bc -l
  fi
}

enc_ours=$(mean_seconds "$bench encode $work/random.bin")
enc_core=$(mean_seconds "base64 -w0 $work/random.bin")
dec_ours=$(mean_seconds "$bench decode $work/random.b64")
dec_core=$(mean_seconds "base64 -d $work/random.b64")

python3 - "$enc_ours" "$enc_core" "$dec_ours" "$dec_core" <<'EOF'
import sys
eo, ec, do, dc = map(float, sys.argv[1:])
print(f"encode 64 MiB: base64_bench {eo*1000:.1f} ms, base64 -w0 {ec*1000:.1f} ms, ratio {eo/ec:.3f}")
print(f"decode 64 MiB: base64_bench {do*1000:.1f} ms, base64 -d  {dc*1000:.1f} ms, ratio {do/dc:.3f}")
EOF
