#!/usr/bin/env python3
"""Merges the lint leg's compile databases into one, one entry per source.

    merge_compile_databases.py OUT_DIR ROOT SOURCES.txt PART...

Reads OUT_DIR/PART/compile_commands.json for each PART, writes OUT_DIR/compile_commands.json
and its sources, one per line, to OUT_DIR/checked_sources.txt. Exits 1 naming every source of
SOURCES.txt (paths relative to ROOT) that is in none of them: such a source is never checked.
"""
import json
import os
import sys

# Must not compile: the guest check proves that a parent cannot include the internal header.
UNCOMPILABLE = ["tests/install/parent/private_header.cpp"]


def merge(out, root, parts):
    uncompilable = {os.path.realpath(os.path.join(root, f)) for f in UNCOMPILABLE}
    merged = {}
    for part in parts:
        with open(os.path.join(out, part, "compile_commands.json")) as database:
            for entry in json.load(database):
                path = os.path.realpath(os.path.join(entry.get("directory", ""), entry["file"]))
                if path not in uncompilable:
                    merged.setdefault(path, entry)
    return merged, uncompilable


def main(argv):
    if len(argv) < 5:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    out, root, sources = argv[1], argv[2], argv[3]
    merged, uncompilable = merge(out, root, argv[4:])
    with open(os.path.join(out, "compile_commands.json"), "w") as database:
        json.dump(list(merged.values()), database, indent=1)
    with open(os.path.join(out, "checked_sources.txt"), "w") as checked:
        checked.write("".join(entry["file"] + "\n" for entry in merged.values()))
    with open(sources) as listed:
        missing = [f for f in listed.read().split()
                   if os.path.realpath(os.path.join(root, f)) not in merged.keys() | uncompilable]
    if missing:
        print("not in any compile database, so not checked:", *missing)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
