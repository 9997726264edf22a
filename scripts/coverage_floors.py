#!/usr/bin/env python3
"""Judges a gcovr JSON summary against line floors per folder.

    coverage_floors.py SUMMARY.json FOLDER=FLOOR...

Prints one line, "folder N% lines M% branches, ..." (a folder below its floor says so), and exits
1 when a folder is below its floor, or has no lines but a floor above 0.
"""
import json
import sys


def judge(files, floors):
    status, notes = 0, []
    for row in floors:
        folder, floor = row.split("=")
        mine = [f for f in files if f["filename"].startswith(folder + "/")]
        lines = sum(f["line_total"] for f in mine)
        covered = sum(f["line_covered"] for f in mine)
        branches = sum(f["branch_total"] for f in mine)
        taken = sum(f["branch_covered"] for f in mine)
        if lines == 0:
            notes.append(f"{folder} no lines")
            status = status or int(int(floor) > 0)
            continue
        # Rounded down: 99.96% is not 100%.
        note = f"{folder} {int(1000 * covered / lines) / 10:g}% lines"
        if branches:
            note += f" {int(1000 * taken / branches) / 10:g}% branches"
        if covered * 100 < int(floor) * lines:
            note += f" (below {floor}%)"
            status = 1
        notes.append(note)
    return status, ", ".join(notes)


def main(argv):
    if len(argv) < 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    with open(argv[1]) as summary:
        status, line = judge(json.load(summary)["files"], argv[2:])
    print(line)
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv))
