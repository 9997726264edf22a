#!/usr/bin/env python3
"""scsi-timeouts and the library agree, across processes, on a registry file of the stand-in
store: what `check --json` says the next load writes is exactly what a fresh process's first
lookup writes, and what `show --json` prints is what that lookup returns. The tool itself leaves
the file byte for byte as it was.

    admin_tool_agreement.py TOOL EXAMPLE WORK_DIR      (QR_EMULATOR: runs cross-built programs)
"""
import json
import os
import shlex
import subprocess
import sys

REGISTRY = """\
# an administrator's notes stay where they are
[Base]
vARURAROD=1

[ScsiTimeouts]
DEFAULT=-5
REWIND=900
MODE_SENSE=*3000*
ERASE=100000
LOAD=soon
INQUIRY=*60*
SPACE=1,800
VERIFY=1 800
WRITE=60abc
READ=*2880
RESERVE=
SEEK_BLOCK=  0x30
CDB_05=30
CDB_06=abc
CDB_07=*60*
CDB_08=0
CDB_12=30
CDB_FF=0x20
CDB_0A=éternel

[Other]
REWIND=5
"""


def run(program, args, path):
    emulator = shlex.split(os.environ.get("QR_EMULATOR", ""))
    env = dict(os.environ, QRLIB_STAND_IN_FILE=path)
    done = subprocess.run(emulator + [program] + args, env=env, capture_output=True, text=True)
    if done.returncode not in (0, 1):
        sys.exit(f"FAIL: {program} {args} exited {done.returncode}: {done.stderr}")
    return done.stdout


def values(text):
    """(section, name) -> text, as the stand-in reads its file."""
    out, section = {}, None
    for line in text.splitlines():
        stripped = line.strip()
        if not stripped or stripped[0] in "#;":
            continue
        if stripped.startswith("[") and stripped.endswith("]"):
            section = stripped[1:-1].strip()
        elif "=" in line and section is not None:
            name, value = line.split("=", 1)
            out[(section, name.strip())] = value
    return out


def agree(tool, example, path, registry):
    with open(path, "w", encoding="utf-8") as f:
        f.write(registry)
    before_bytes = open(path, "rb").read()
    check = json.loads(run(tool, ["check", "--json"], path))
    show = json.loads(run(tool, ["show", "--json"], path))
    if open(path, "rb").read() != before_bytes:
        sys.exit("FAIL: the tool changed the registry file")
    if len(check["values"]) != 274 or len(show["table"]) != 256:
        sys.exit("FAIL: check must list 274 values and show 256 entries")

    # The library's first load, in a fresh process.
    table = {}
    for line in run(example, [], path).splitlines():
        opcode, seconds = line.split()[:2]
        table[int(opcode, 16)] = int(seconds)

    before, after = values(registry), values(open(path, encoding="utf-8").read())
    failures = []
    for v in check["values"]:
        key = ("ScsiTimeouts", v["name"])
        if before.get(key) != v["stored"]:
            failures.append(f"{v['name']}: check saw {v['stored']!r}, the file holds {before.get(key)!r}")
        expected = v["repair"] if v["repair"] is not None else before.get(key)
        if after.get(key) != expected:
            failures.append(f"{v['name']}: expected {expected!r} after the load, found {after.get(key)!r}")
        before.pop(key, None)
        after.pop(key, None)
    if before != after:
        failures.append(f"values the load does not read changed: {before} -> {after}")
    stored_before = values(registry)
    for entry in show["table"]:
        if table.get(entry["opcode"]) != entry["timeout"]:
            failures.append(f"opcode {entry['opcode']:#04x}: show {entry['timeout']}, "
                            f"library {table.get(entry['opcode'])}")
        if entry["stored"] != stored_before.get(("ScsiTimeouts", entry["source"])):
            failures.append(f"opcode {entry['opcode']:#04x}: stored {entry['stored']!r} is not "
                            f"{entry['source']}'s")
    sources = {e["opcode"]: e["source"] for e in show["table"]}
    expected_sources = {0x00: "DEFAULT", 0x05: "CDB_05", 0x06: "DEFAULT", 0x08: "READ",
                        0x12: "INQUIRY", 0xFF: "CDB_FF"}
    for opcode, source in expected_sources.items():
        if sources[opcode] != source:
            failures.append(f"opcode {opcode:#04x}: source {sources[opcode]}, not {source}")
    if failures:
        sys.exit("FAIL:\n  " + "\n  ".join(failures))
    repairs = sum(v["repair"] is not None for v in check["values"])
    print(f"agree: {repairs} repairs named and made, 256 timeouts equal")
    return repairs


def main():
    tool, example, work = sys.argv[1:4]
    os.makedirs(work, exist_ok=True)
    path = os.path.join(work, "registry.ini")
    if agree(tool, example, path, REGISTRY) == 0:
        sys.exit("FAIL: the mixed registry must have values to repair")
    without_entry = REGISTRY.replace("vARURAROD=1\n", "")
    if agree(tool, example, path, without_entry) != 0:
        sys.exit("FAIL: nothing is repaired without the install entry")


if __name__ == "__main__":
    main()
