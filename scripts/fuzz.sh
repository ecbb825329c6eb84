#!/usr/bin/env bash
# The fuzz regression run: builds every libFuzzer target with clang in its own folder, writes each
# target's seed corpus and runs each target over it for a fixed time. Any crash, leak, sanitizer
# report or time-out of an input fails the run; the input is kept in BUILD_DIR/artifacts.
#   scripts/fuzz.sh [BUILD_DIR [SECONDS]]     (defaults: build-fuzz, 30 seconds a target)
# Prints one line per target: executions per second, coverage (edges and features), result.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
build=${1:-$here/build-fuzz}
seconds=${2:-30}
jobs=${ZENTRAK_JOBS:-2}
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZENTRAK_FUZZ=ON \
  -DZENTRAK_TESTS=OFF -DZENTRAK_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$jobs"

# Writes the seed corpus of target $1 into folder $2. A target without seeds starts empty.
seeds() {
  local name=$1 out=$2 script
  case $name in
    fuzz_decompress) bash codec/fuzz_seed_corpus.sh "$out" ;;
    fuzz_initcache) cp localdb/fuzz_seeds/* "$out"/ ;;
    fuzz_http_parser) script=host/fuzz_seeds_http.sh ;;
    fuzz_origin) script=host/fuzz_seeds_origin.sh ;;
    *) script=$(ls ./*/fuzz_seeds_"${name#fuzz_}".sh 2>/dev/null | head -n1 || true) ;;
  esac
  if [ -n "${script:-}" ] && [ -f "$script" ]; then bash "$script" "$out"; fi
}

mapfile -t targets < <(find "$build" -type f -executable -name 'fuzz_*' | sort)
if [ ${#targets[@]} -eq 0 ]; then
  echo "no fuzz targets were built in $build" >&2
  exit 1
fi
mkdir -p "$build/artifacts"
# The undefined-behaviour checks of the fuzz build report and go on by default: the first report
# ends the run instead, so that it fails.
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
failed=0
summary=()
for exe in "${targets[@]}"; do
  name=$(basename "$exe")
  corpus="$build/corpus/$name"
  rm -rf "$corpus"
  mkdir -p "$corpus"
  seeds "$name" "$corpus"
  log="$build/$name.log"
  status=ok
  # -timeout: one input may take at most 25 s; -rss_limit_mb: the process at most 2 GiB.
  if ! "$exe" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$name-" "$corpus" >"$log" 2>&1; then
    status="FAILED (see $log)"
    failed=$((failed + 1))
  fi
  execs=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n1)
  cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -n1 || true)
  summary+=("$name: ${execs:-?} exec/s, ${cov:-no coverage line}, $(ls "$corpus" | wc -l) inputs: $status")
  echo "${summary[-1]}"
done
echo "fuzz: ${#targets[@]} targets, $seconds s each, $failed failed"
[ "$failed" -eq 0 ]
