#!/usr/bin/env python3
"""Refuses an include that points up the layers.

Every folder of the tree belongs to one layer. A source file may include headers of its own folder
and of folders in lower layers; an include of a folder in the same layer (a sibling) or in a higher
one is an error, printed as FILE:LINE so that editors can jump to it. Run by CTest.

  check_layers.py [--root DIR]   check the tree (the repository by default); exit 1 on an error
  check_layers.py --self-test    plant an upward include in a scratch tree and expect the error
"""
import argparse
import os
import re
import sys
import tempfile

# Lowest first. Folders in one layer may not include each other.
LAYERS = [
    ["base"],
    ["platform"],
    ["automation"],
    ["sqlite", "json", "codec"],
    ["common"],
    ["localdb", "print", "files", "control"],
    ["catalog"],
    ["server", "host"],
    ["bench", "tests"],
]
RANK = {folder: rank for rank, folders in enumerate(LAYERS) for folder in folders}
SOURCE = re.compile(r"\.(c|cc|cpp|h|hpp|inc)$")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
SKIP = {".git", "build", "node_modules"}


def sources(root):
    for top in sorted(os.listdir(root)):
        if top in SKIP or top.startswith("build") or not os.path.isdir(os.path.join(root, top)):
            continue
        for folder, dirs, files in os.walk(os.path.join(root, top)):
            dirs[:] = sorted(d for d in dirs if d not in SKIP)
            for name in sorted(files):
                if SOURCE.search(name):
                    yield os.path.join(folder, name)


def check(root):
    errors = []
    for path in sources(root):
        rel = os.path.relpath(path, root).replace(os.sep, "/")
        own = rel.split("/", 1)[0]
        if own not in RANK:
            errors.append(f"{rel}:1: folder '{own}' has no layer; add it to scripts/check_layers.py")
            continue
        with open(path, encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                m = INCLUDE.match(line)
                if not m or "/" not in m.group(1):
                    continue
                target = m.group(1).split("/", 1)[0]
                if target == own or target not in RANK:
                    continue
                if RANK[target] >= RANK[own]:
                    kind = "a sibling" if RANK[target] == RANK[own] else "a higher"
                    errors.append(f"{rel}:{number}: includes \"{m.group(1)}\" from {kind} layer "
                                  f"({target}/ is layer {RANK[target]}, {own}/ is layer {RANK[own]})")
    return errors


def self_test():
    with tempfile.TemporaryDirectory() as root:
        for folder, text in [("json", '#include "automation/variant.h"\n'),
                             ("localdb", '#include "json/value.h"\n\n#include "catalog/catalog.h"\n'),
                             ("print", '#include "localdb/local_db.h"\n')]:
            os.makedirs(os.path.join(root, folder))
            with open(os.path.join(root, folder, "planted.cpp"), "w") as f:
                f.write(text)
        errors = check(root)
        want = ["localdb/planted.cpp:3:", "print/planted.cpp:1:"]
        found = [e.split(" ", 1)[0] for e in errors]
        if found != want:
            print("self-test: expected errors at", want, "but got:", *errors, sep="\n  ")
            return 1
    print("self-test: an upward and a sibling include are refused, with file and line")
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--root", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    parser.add_argument("--self-test", action="store_true")
    args = parser.parse_args()
    if args.self_test:
        return self_test()
    errors = check(os.path.abspath(args.root))
    for e in errors:
        print(e)
    if errors:
        print(f"{len(errors)} include(s) point up the layers", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
