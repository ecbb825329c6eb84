#!/usr/bin/env bash
# Times LocalDB beside its anchors, as whole processes in the same run, and prints the ratios:
#   queryAll of select * from t (200,000 x 8)  vs  sqlite3 -json on the same file and query
#   ReadText of the 29 MB JSON text             vs  python3 json.load
#   initCache of 100,000 x 8 rows               vs  sqlite3 .import of the same rows as CSV, one transaction
# Peak resident memory comes from /usr/bin/time.  Usage: bench/localdb_bench.sh [BUILD_DIR]
set -euo pipefail
build=$(realpath "${1:-build}")
bench="$build/bench/localdb_bench"
[ -x "$bench" ] || { echo "build the target localdb_bench first" >&2; exit 1; }
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 "$here/make_data.py" "$work" >/dev/null

mean() {  # mean wall seconds of a command
  hyperfine -N --warmup 1 --runs "${RUNS:-7}" --export-json "$work/h.json" "$1" >/dev/null 2>&1 ||
    hyperfine --warmup 1 --runs "${RUNS:-7}" --export-json "$work/h.json" "$1" >/dev/null
  python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["results"][0]["mean"])' "$work/h.json"
}
rss() {  # peak resident KiB of a command
  /usr/bin/time -f %M sh -c "$1 >/dev/null" 2>&1 | tail -1
}
ratio() { python3 -c "print('%.2f' % ($1 / $2))"; }

db="$work/Zentrak/bench.db"
ours="$bench queryall $db 'select * from t'"
anchor="sqlite3 -json $db 'select * from t'"
a=$(mean "$ours"); b=$(mean "$anchor")
echo "queryAll:   ours ${a}s  sqlite3 -json ${b}s  ratio $(ratio "$a" "$b")  peak RSS $(rss "$ours") KiB"

ours="$bench readtext $work/bench.json"
anchor="python3 -c 'import json,sys; json.load(open(sys.argv[1]))' $work/bench.json"
a=$(mean "$ours"); b=$(mean "$anchor")
echo "ReadText:   ours ${a}s  python3 ${b}s  ratio $(ratio "$a" "$b")  peak RSS ours $(rss "$ours") KiB python3 $(rss "$anchor") KiB"

# Each run starts from an empty database.
cat >"$work/ours.sh" <<SH
rm -f $work/Zentrak/cache.db; $bench initcache $work/Zentrak/cache.db $work/cache.json
SH
cat >"$work/anchor.sh" <<SH
rm -f $work/anchor.db; printf '%s\n' "\$(cat $work/cache.sql)" 'BEGIN;' '.mode csv' '.import $work/cache.csv Items' 'COMMIT;' | sqlite3 $work/anchor.db
SH
a=$(mean "bash $work/ours.sh"); b=$(mean "bash $work/anchor.sh")
echo "initCache:  ours ${a}s  sqlite3 .import ${b}s  ratio $(ratio "$a" "$b")"
