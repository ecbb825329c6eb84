#!/usr/bin/env bash
# Times the codec's Base64 encoder and decoder as whole processes beside coreutils base64 on a
# 64 MiB file of random bytes, and prints the ratios of the wall times.
#   bench/base64_bench.sh [BUILD_DIR]      (default: build)
# Uses hyperfine when it is installed, else /usr/bin/time; output goes to /dev/null for all.
# Ratios are of median wall times, which a busy machine disturbs least.
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

# time_pair OURS THEIRS: the median wall times of both commands in seconds, ours first. The two
# are timed in alternating short rounds, so that a change in the machine's load hits both alike.
time_pair() {
  local round cmd
  : >"$work/ours" && : >"$work/theirs"
  for round in 1 2 3 4 5 6; do
    if command -v hyperfine >/dev/null; then
      hyperfine -N --warmup 1 --runs 6 --export-json "$work/h.json" "$1" "$2" >/dev/null 2>&1
      python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["results"]
for name, res in zip(sys.argv[2:], r): open(name, "a").write("".join(f"{t}\n" for t in res["times"]))' \
        "$work/h.json" "$work/ours" "$work/theirs"
    else
      for cmd in "$1" "$2"; do
        for _ in 1 2 3; do /usr/bin/time -f %e -a -o "$work/$([ "$cmd" = "$1" ] && echo ours || echo theirs)" \
          sh -c "$cmd >/dev/null"; done
      done
    fi
  done
  echo "$(sort -g "$work/ours" | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')" \
       "$(sort -g "$work/theirs" | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')"
}

read -r enc_ours enc_core < <(time_pair "$bench encode $work/random.bin" "base64 -w0 $work/random.bin")
read -r dec_ours dec_core < <(time_pair "$bench decode $work/random.b64" "base64 -d $work/random.b64")

awk -v eo="$enc_ours" -v ec="$enc_core" -v do_="$dec_ours" -v dc="$dec_core" 'BEGIN {
  printf "encode 64 MiB: base64_bench %.1f ms, base64 -w0 %.1f ms, ratio %.3f\n", eo * 1000, ec * 1000, eo / ec
  printf "decode 64 MiB: base64_bench %.1f ms, base64 -d  %.1f ms, ratio %.3f\n", do_ * 1000, dc * 1000, do_ / dc
}'
