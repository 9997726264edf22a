#!/usr/bin/env python3
"""scsi-timeouts and the library agree, across processes, on a registry file of the stand-in
store: what `check --json` says the next load writes is exactly what a fresh process's first
lookup writes, and what `show --json` prints is what that lookup returns. The tool's views leave
the file byte for byte as it was. After `set` a fresh process's lookup returns the seconds asked
for and its load leaves the value alone; after `reset` it returns the built-in value (DEFAULT's,
for a per-code value). Values are read back through the tool, never by parsing the file here.

    admin_tool_agreement.py TOOL EXAMPLE WORK_DIR      (QR_EMULATOR: runs cross-built programs)
"""
import json
import os
import shlex
import subprocess
import sys

# The values under [ScsiTimeouts], as written to the file.
VALUES = {
    "DEFAULT": "-5",
    "REWIND": "900",
    "MODE_SENSE": "*3000*",
    "ERASE": "100000",
    "LOAD": "soon",
    "INQUIRY": "*60*",
    "SPACE": "1,800",
    "VERIFY": "1 800",
    "WRITE": "60abc",
    "READ": "*2880",
    "RESERVE": "",
    "SEEK_BLOCK": "  0x30",
    "CDB_05": "30",
    "CDB_06": "abc",
    "CDB_07": "*60*",
    "CDB_08": "0",
    "CDB_12": "30",
    "CDB_FF": "0x20",
    "CDB_0A": "éternel",
}
NOTES = "# an administrator's notes stay where they are\n"
OTHER = "[Other]\nREWIND=5\n"


def registry(values, install_entry=True):
    lines = [NOTES, "[Base]\n", "vARURAROD=1\n" if install_entry else "", "\n", "[ScsiTimeouts]\n"]
    lines += [f"{name}={text}\n" for name, text in values.items()]
    return "".join(lines) + "\n" + OTHER


AUDIT_LOG = os.path.join(os.environ.get("TMPDIR", "/tmp"), "scsi-timeouts-agreement-audit.log")


def run_full(program, args, path):
    """(status, stdout, stderr); path None: no store file at all."""
    emulator = shlex.split(os.environ.get("QR_EMULATOR", ""))
    env = dict(os.environ)
    env.pop("QRLIB_STAND_IN_FILE", None)
    env["QR_SCSI_TIMEOUTS_AUDIT_FILE"] = AUDIT_LOG  # never the system log
    if path is not None:
        env["QRLIB_STAND_IN_FILE"] = path
    done = subprocess.run(emulator + [program] + args, env=env, capture_output=True, text=True)
    return done.returncode, done.stdout, done.stderr


def run(program, args, path, allowed=(0, 1)):
    status, out, err = run_full(program, args, path)
    if status not in allowed:
        sys.exit(f"FAIL: {program} {args} exited {status}: {err}")
    return out


def stored(tool, path):
    """name -> stored text (None: absent), as the tool reads the store."""
    return {v["name"]: v["stored"] for v in json.loads(run(tool, ["check", "--json"], path))["values"]}


def lookups(example, path):
    """The library's first load in a fresh process: opcode -> seconds."""
    table = {}
    for line in run(example, [], path).splitlines():
        opcode, seconds = line.split()[:2]
        table[int(opcode, 16)] = int(seconds)
    return table


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def agree(tool, example, path, text):
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    before_bytes = read_bytes(path)
    check = json.loads(run(tool, ["check", "--json"], path))
    show = json.loads(run(tool, ["show", "--json"], path))
    if read_bytes(path) != before_bytes:
        sys.exit("FAIL: the tool changed the registry file")
    if len(check["values"]) != 274 or len(show["table"]) != 256:
        sys.exit("FAIL: check must list 274 values and show 256 entries")
    if check["store"] != f"the stand-in's file {path}":
        sys.exit(f"FAIL: check names the store {check['store']!r}")

    table = lookups(example, path)
    after = stored(tool, path)
    failures = []
    for v in check["values"]:
        name = v["name"]
        if VALUES.get(name) != v["stored"]:
            failures.append(f"{name}: check saw {v['stored']!r}, the file holds {VALUES.get(name)!r}")
        expected = v["repair"] if v["repair"] is not None else VALUES.get(name)
        if after[name] != expected:
            failures.append(f"{name}: expected {expected!r} after the load, found {after[name]!r}")
    after_text = read_bytes(path).decode("utf-8")
    if not after_text.startswith(NOTES) or OTHER not in after_text:
        failures.append("the load changed what it does not read")
    for entry in show["table"]:
        if table.get(entry["opcode"]) != entry["timeout"]:
            failures.append(f"opcode {entry['opcode']:#04x}: show {entry['timeout']}, "
                            f"library {table.get(entry['opcode'])}")
        if entry["stored"] != VALUES.get(entry["source"]):
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


# (command, value it changes, operation code, the text it writes, what a fresh lookup returns)
WRITES = [
    (["set", "LOCATE(16)", "1h"], "CDB_92", 0x92, "3600", 3600),
    (["set", "rewind", "15m"], "REWIND", 0x01, "900", 900),
    (["set", "0x05", "1h30m"], "CDB_05", 0x05, "5400", 5400),
    (["set", "DEFAULT", "200"], "DEFAULT", 0x00, "200", 200),
    (["reset", "REWIND"], "REWIND", 0x01, "*1800*", 1800),
    (["reset", "CDB_05"], "CDB_05", 0x05, "", 200),  # DEFAULT's, as set above
    (["reset", "SPACE"], "SPACE", 0x11, "*2880*", 2880),
    (["reset", "CDB_12"], "CDB_12", 0x12, "", 60),  # never used: INQUIRY decides 0x12
]

# Refused, or not persisted: exit 2, one line on standard error, the file byte for byte as it was.
REFUSED = [
    (["set", "92", "1h"], "92: write 0x92 for the byte the kernel prints, or 0x5C for decimal 92"),
    (["set", "8c", "1h"], "write 0x8C"),
    (["set", "REWIND", "30", "m"], "did you mean 30m?"),
]


def apply_profile(tool, example, path):
    """apply, reading back in new processes: what a fresh lookup then returns, one audit line per
    change, and a second apply that leaves the file as it was."""
    failures = []
    profile = os.path.join(os.path.dirname(path), "fleet.profile")
    with open(profile, "w", encoding="utf-8") as f:
        f.write("LOCATE(16) = 2h\nDEFAULT = 5m   # the rest\nREWIND = default\n")
    open(AUDIT_LOG, "w", encoding="utf-8").close()
    result = json.loads(run(tool, ["apply", "--json", profile], path, allowed=(1,)))
    names = [c["name"] for c in result["changes"]]
    if names != ["DEFAULT", "CDB_92"] or not result["changed"]:  # REWIND: at its marker already
        failures.append(f"apply: changes {names}, changed {result['changed']}")
    got = lookups(example, path)
    if (got[0x92], got[0x00], got[0x01]) != (7200, 300, 1800):
        failures.append(f"apply: fresh lookups {got[0x92]}, {got[0x00]}, {got[0x01]}")
    with open(AUDIT_LOG, encoding="utf-8") as f:
        logged = f.read().splitlines()
    if len(logged) != 2 or not logged[1].startswith("CDB_92 (0x92): 3600 -> 7200 by "):
        failures.append(f"apply: audit log {logged!r}")
    before, mtime = read_bytes(path), os.stat(path).st_mtime_ns
    run(tool, ["apply", profile], path, allowed=(0,))
    if read_bytes(path) != before or os.stat(path).st_mtime_ns != mtime:
        failures.append("a second apply changed the store file")
    return failures


def set_and_reset(tool, example, path):
    with open(path, "w", encoding="utf-8") as f:
        f.write(registry(VALUES))
    failures = []
    for args, name, opcode, text, seconds in WRITES:
        old = stored(tool, path)[name]
        before = read_bytes(path)
        report = run(tool, args, path, allowed=(0,))
        after = read_bytes(path)
        if not report.startswith(f"store: the stand-in's file {path}\n"):
            failures.append(f"{args}: the report does not name the store: {report!r}")
        if old is not None:
            # Only the value's own line changes.
            expected = before.replace(f"\n{name}={old}\n".encode(), f"\n{name}={text}\n".encode(), 1)
            if after != expected:
                failures.append(f"{args}: the file changed beyond {name}")
        if stored(tool, path)[name] != text:
            failures.append(f"{args}: {name} holds {stored(tool, path)[name]!r}, not {text!r}")
        got = lookups(example, path)[opcode]  # the load of a fresh process, which may repair
        if got != seconds:
            failures.append(f"{args}: a fresh process's lookup of {opcode:#04x} is {got}, not {seconds}")
        if stored(tool, path)[name] != text:
            failures.append(f"{args}: the next load rewrote {name} to {stored(tool, path)[name]!r}")
    for args, says in REFUSED:
        before = read_bytes(path)
        status, out, err = run_full(tool, args, path)
        if status != 2 or out or err.count("\n") != 1 or says not in err:
            failures.append(f"{args}: exit {status}, {out!r}, {err!r}")
        if read_bytes(path) != before:
            failures.append(f"{args}: the file changed")
    failures += apply_profile(tool, example, path)
    # No store file: the stand-in keeps the value in the writing process alone, which a new
    # process does not see.
    status, out, err = run_full(tool, ["set", "REWIND", "15m"], None)
    if status != 2 or out or err.count("\n") != 1 or "a new process reads absent" not in err:
        failures.append(f"set without a store file: exit {status}, {out!r}, {err!r}")
    if failures:
        sys.exit("FAIL:\n  " + "\n  ".join(failures))
    print(f"agree: {len(WRITES)} writes read back by fresh processes, {len(REFUSED) + 1} refused")


def main():
    global AUDIT_LOG  # pylint: disable=global-statement
    tool, example, work = sys.argv[1:4]
    os.makedirs(work, exist_ok=True)
    AUDIT_LOG = os.path.join(work, "audit.log")
    path = os.path.join(work, "registry.ini")
    if agree(tool, example, path, registry(VALUES)) == 0:
        sys.exit("FAIL: the mixed registry must have values to repair")
    if agree(tool, example, path, registry(VALUES, install_entry=False)) != 0:
        sys.exit("FAIL: nothing is repaired without the install entry")
    set_and_reset(tool, example, path)


if __name__ == "__main__":
    main()
