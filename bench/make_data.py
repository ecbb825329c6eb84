#!/usr/bin/env python3
"""Builds the benchmark inputs in a folder:
  Zentrak/bench.db   table t: 200,000 rows x 8 columns (INTEGER, TEXT, REAL, BOOLEAN declared types)
  bench.json         what `sqlite3 -json` writes for select * from t (about 29 MB)
  cache.json         an initCache document of 100,000 rows x 8 columns (table Items)
  cache.csv          the same rows as CSV, and cache.sql, the schema for the sqlite3 shell's .import
"""
import csv, json, os, random, sqlite3, subprocess, sys

out = sys.argv[1] if len(sys.argv) > 1 else "bench-data"
os.makedirs(os.path.join(out, "Zentrak"), exist_ok=True)
rng = random.Random(42)
words = ["tea", "rice", "salt", "oil", "flour", "milk", "\u8336", "caf\u00e9", "O'Hara", "x/y"]

db_path = os.path.join(out, "Zentrak", "bench.db")
if os.path.exists(db_path):
    os.remove(db_path)
con = sqlite3.connect(db_path)
con.execute("create table t(id INTEGER PRIMARY KEY, name TEXT, price REAL, active BOOLEAN,"
            " qty INTEGER, note TEXT, weight REAL, code TEXT)")
rows = []
for i in range(200000):
    rows.append((i, rng.choice(words) + str(i), round(rng.uniform(0, 1000), 2), rng.randint(0, 1),
                 rng.randint(-100000, 100000), None if i % 7 == 0 else " ".join(rng.choice(words) for _ in range(3)),
                 rng.random() * 100, "C%06d" % rng.randint(0, 999999)))
con.executemany("insert into t values(?,?,?,?,?,?,?,?)", rows)
con.commit()
con.close()
with open(os.path.join(out, "bench.json"), "wb") as f:
    subprocess.run(["sqlite3", "-json", db_path, "select * from t"], stdout=f, check=True)

schema = ("CREATE TABLE IF NOT EXISTS Items(ID TEXT PRIMARY KEY,Name TEXT,Price TEXT,Active TEXT,"
          "Qty TEXT,Note TEXT,Weight TEXT,Code TEXT)")
meta = ["ID", "Name", "Price", "Active", "Qty", "Note", "Weight", "Code"]
data = [[str(r[0]), r[1], str(r[2]), str(r[3]), str(r[4]), r[5] if r[5] is not None else "$NULL$", str(r[6]), r[7]]
        for r in rows[:100000]]
doc = {"zip": "false", "content": [{"key": "Items", "pk": "ID", "scheme": schema, "ver": "1",
                                     "meta": meta, "data": data}]}
with open(os.path.join(out, "cache.json"), "w", encoding="utf-8") as f:
    json.dump(doc, f, ensure_ascii=False, separators=(",", ":"))
with open(os.path.join(out, "cache.csv"), "w", encoding="utf-8", newline="") as f:
    w = csv.writer(f)
    for r in data:
        w.writerow(["" if v == "$NULL$" else v for v in r])
with open(os.path.join(out, "cache.sql"), "w") as f:
    f.write(schema + ";\n")
print(out)
