#!/usr/bin/env bash
# Writes the seed corpus of fuzz_wire into DIR: one request or batch a file, covering every op,
# tagged values, by-reference arguments and batches.
#   host/fuzz_seeds_wire.sh DIR
set -euo pipefail
dir=${1:?usage: $0 DIR}
mkdir -p "$dir"
n=0
seed() { n=$((n + 1)); printf '%s' "$1" >"$dir/seed-$n.json"; }
seed '{"id":1,"op":"create","progid":"Zentrak.LocalDB"}'
seed '{"id":1,"op":"create","clsid":"{F3F978B4-CA5D-4F99-8C81-E5406A068C89}"}'
seed '[{"op":"create","progid":"Zentrak.LocalDB"},{"op":"call","object":1,"name":"GetVersion"}]'
seed '[{"op":"create","progid":"Zentrak.LocalDB"},{"op":"call","object":1,"name":"setDBName","args":["f",""]},{"op":"call","object":1,"name":"executeSql","args":["create table t(a)"]},{"op":"call","object":1,"name":"queryAll","args":["select * from t"]}]'
seed '[{"op":"create","progid":"Zentrak.LocalDB"},{"op":"call","object":1,"name":"executeSql","args":[{"vt":"Variant","byref":true,"value":"select 1"}]}]'
seed '[{"op":"create","progid":"Zentrak.PrintServer"},{"op":"call","object":1,"name":"compress","args":["hello hello"]}]'
seed '[{"op":"create","progid":"Zentrak.ActiveFormX_Foxit"},{"op":"call","object":1,"name":"Caption","kind":"put","args":["x"]},{"op":"call","object":1,"dispid":-501,"kind":"get"}]'
seed '[{"op":"create","progid":"Zentrak.FileSystemObject"},{"op":"names","object":1,"names":["GetFileStream","nothing"]},{"op":"query","object":1,"iid":"{00020400-0000-0000-C000-000000000046}"}]'
seed '{"op":"describe","progid":"zentrak.localdb"}'
seed '[{"op":"create","progid":"Zentrak.LocalDB"},{"op":"release","object":1},{"op":"events"},{"op":"eventResult","event":1,"args":[1]}]'
seed '{"op":"call","object":1,"name":"x","args":[{"vt":"Int64","value":"-9223372036854775808"},{"vt":"Currency","value":"12.5"},{"vt":"Decimal","value":"-1.50"},{"vt":"Date","value":45000.5},{"vt":"Smallint","value":-3},{"vt":"Error","value":5},{"vt":"String","value":"a"},{"vt":"Empty"},{"vt":"Dispatch"},1e308,-2147483649,"\u00e9\ud83d\ude00"]}'
seed '{"id":[[[{"a":null}]]],"op":"fly"}'
seed '1e400'
