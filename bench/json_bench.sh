#!/usr/bin/env bash
# Times the JSON library as whole processes on a result set of 200,000 rows x 8 columns:
#   read:  TvxJSON::ReadText of the text `sqlite3 -json` writes for it, beside python3's json.load
#          (wall time and peak resident size);
#   write: the query result built as a tree and written with TvxJSON::WriteText, beside the
#          sqlite3 shell's -json output of the same query.
#   bench/json_bench.sh [BUILD_DIR] [RUNS]      (defaults: build, 5)
# Prints the median of each and the ratios.
set -euo pipefail

build=${1:-build}
runs=${2:-5}
bench="$build/bench/json_bench"
[ -x "$bench" ] || { echo "no $bench: build the target json_bench first" >&2; exit 1; }
bench=$(realpath "$bench")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sqlite3 "$work/t.db" "create table t(id integer, name text, email text, city text, amount real,
  qty integer, note text, created text);
with recursive c(x) as (select 1 union all select x + 1 from c where x < 200000)
insert into t select x, 'user' || x, 'user' || x || '@example.com',
  case x % 5 when 0 then 'Beijing' when 1 then 'Shanghai' when 2 then 'Shenzhen'
             when 3 then 'Hangzhou' else 'Chengdu' end,
  (x % 1000) * 1.25, x % 97, case when x % 3 = 0 then null else 'n' || (x % 1000) end,
  '2024-01-' || printf('%02d', x % 28 + 1) || ' 10:00:00' from c;"
sql="select * from t"
sqlite3 -json "$work/t.db" "$sql" >"$work/t.json"
[ "$("$bench" read "$work/t.json" 2>/dev/null)" = 200000 ] || { echo "json_bench read failed" >&2; exit 1; }

# measure NAME COMMAND...: runs COMMAND $runs times, output to /dev/null, and prints
# "NAME wall_seconds peak_kib" for each run.
measure() {
  local name=$1
  shift
  for _ in $(seq "$runs"); do
    /usr/bin/time -f "$name %e %M" -o "$work/time" "$@" >/dev/null 2>&1
    cat "$work/time"
  done
}

{
  measure py_read python3 -c 'import json, sys; json.load(open(sys.argv[1]))' "$work/t.json"
  measure our_read "$bench" read "$work/t.json"
  measure sqlite_write sqlite3 -json "$work/t.db" "$sql"
  measure our_write "$bench" query "$work/t.db" "$sql"
} >"$work/results"

python3 - "$work/results" "$(stat -c %s "$work/t.json")" <<'EOF'
import statistics, sys
runs = {}
for line in open(sys.argv[1]):
    name, wall, kib = line.split()
    runs.setdefault(name, []).append((float(wall), int(kib)))
r = {n: (statistics.median(w for w, _ in v), statistics.median(k for _, k in v)) for n, v in runs.items()}
mib = int(sys.argv[2]) / 2**20
pw, pm = r["py_read"]; ow, om = r["our_read"]
sw, sm = r["sqlite_write"]; qw, qm = r["our_write"]
print(f"read {mib:.1f} MiB: json_bench {ow:.2f} s {om / 1024:.0f} MiB, python3 json.load {pw:.2f} s "
      f"{pm / 1024:.0f} MiB; time ratio {ow / pw:.2f}, memory ratio {om / pm:.2f}")
print(f"query 200000 x 8 to JSON: json_bench {qw:.2f} s, sqlite3 -json {sw:.2f} s; ratio {qw / sw:.2f}")
EOF
