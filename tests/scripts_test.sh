#!/usr/bin/env bash
# The set-up of scripts/demo and scripts/test-all, on stubs of dpkg-query, apt-get, id and cmake
# in a scratch directory (this machine's packages and privileges play no part), and the two
# Python programs of the test legs on their own.
#   scripts_test.sh SOURCE_ROOT WORK_DIR
set -uo pipefail
root=$1 work=$2
rm -rf "$work" && mkdir -p "$work/bin"
failed=0 checked=0
check() {  # check WHAT CONDITION...: one row
    checked=$((checked + 1))
    local what=$1
    shift
    if ! "$@"; then
        echo "FAIL: $what"
        failed=$((failed + 1))
    fi
}

# dpkg-query knows the packages in $work/installed; apt-get logs its calls and installs; id -u
# says $STUB_UID; cmake logs that it ran and stops the script there.
cat >"$work/bin/dpkg-query" <<EOF
#!/bin/sh
grep -qx "\$3" "$work/installed" && printf 'install ok installed'
EOF
cat >"$work/bin/apt-get" <<EOF
#!/bin/sh
echo "apt-get \$*" >>"$work/calls"
[ "\$1" = install ] && shift 2 && printf '%s\n' "\$@" >>"$work/installed"
exit 0
EOF
cat >"$work/bin/id" <<'EOF'
#!/bin/sh
echo "$STUB_UID"
EOF
cat >"$work/bin/cmake" <<EOF
#!/bin/sh
echo "cmake" >>"$work/calls"
exit 3
EOF
chmod +x "$work/bin/"*
all=$(sed -n 's/^[a-z0-9_-]*://p' "$root/scripts/packages.txt" | tr ' ' '\n' | sed '/^$/d' | sort -u)

# run UID MISSING COMMAND...: with every package installed but MISSING; status, output, calls.
run() {
    local uid=$1 missing=$2
    shift 2
    grep -vx "$missing" <<<"$all" >"$work/installed"
    : >"$work/calls"
    rm -rf "$work/legs"
    status=0
    output=$(PATH="$work/bin:$PATH" STUB_UID=$uid QR_BUILD_ROOT=$work/legs "$@" 2>&1) || status=$?
    calls=$(cat "$work/calls")
}

run 1000 nlohmann-json3-dev "$root/scripts/demo"
check "demo, not root, a package missing: exit 2 (got $status)" test "$status" -eq 2
check "demo, not root: the one line to run (got: $output)" \
    grep -qx 'sudo apt-get install nlohmann-json3-dev' <<<"$output"
check "demo, not root: nothing installed or built (calls: $calls)" test -z "$calls"

run 0 nlohmann-json3-dev "$root/scripts/demo"
check "demo, root: says what it installs (got: $output)" grep -q 'installing .*: nlohmann-json3-dev$' <<<"$output"
check "demo, root: update once, install, then the build (calls: $calls)" test "$calls" == \
    "$(printf '%s\n' 'apt-get update' 'apt-get install -y nlohmann-json3-dev' cmake)"

run 1000 none "$root/scripts/demo"
check "demo, all there: straight to the build (calls: $calls)" test "$calls" == cmake

# The native leg needs no clang-tidy; its build cannot run here (cmake stops), so it fails, and
# the closing line counts it.
run 1000 clang-tidy-14 "$root/scripts/test-all" native
check "test-all native, clang-tidy-14 missing: the leg runs and fails (status $status, calls $calls)" \
    test "$status" -eq 1 -a "$calls" == cmake
check "test-all: the failed leg in the closing line (got: $output)" \
    grep -qx 'legs: 0 passed, 1 failed; tests: 0 passed, 0 failed' <<<"$output"
run 1000 clang-tidy-14 "$root/scripts/test-all" lint
check "test-all lint, clang-tidy-14 missing: exit 2 (got $status)" test "$status" -eq 2
check "test-all lint: the one line, and no leg built (got: $output)" \
    grep -qx 'sudo apt-get install clang-tidy-14' <<<"$output"
check "test-all lint: no build directory" test ! -e "$work/legs"
run 1000 none "$root/scripts/test-all" nonsense
check "test-all with an unknown leg: exit 2 (got $status)" test "$status" -eq 2
run 1000 none "$root/scripts/install-packages" demo nonsense
check "an unknown group: exit 2 (got $status)" test "$status" -eq 2

# The coverage floors: rounded down, a folder below its floor fails, no lines fail a floor > 0.
cat >"$work/summary.json" <<'EOF'
{"files": [
 {"filename": "a/x.cpp", "line_total": 2500, "line_covered": 2499, "branch_total": 4, "branch_covered": 3},
 {"filename": "b/y.cpp", "line_total": 10, "line_covered": 10, "branch_total": 0, "branch_covered": 0},
 {"filename": "ab/z.cpp", "line_total": 10, "line_covered": 0, "branch_total": 0, "branch_covered": 0}]}
EOF
floors() { python3 "$root/scripts/coverage_floors.py" "$work/summary.json" "$@"; }
check "99.96% is below 100%" test "$(floors a=100)" == "a 99.9% lines 75% branches (below 100%)"
check "99.96% is below 100%: exit 1" test "$(floors a=100 >/dev/null; echo $?)" -eq 1
check "a floor met" test "$(floors a=99 b=100; echo $?)" == "$(printf 'a 99.9%% lines 75%% branches, b 100%% lines\n0')"
check "a folder without lines, floor 0" test "$(floors c=0; echo $?)" == "$(printf 'c no lines\n0')"
check "a folder without lines, floor 1" test "$(floors c=1 >/dev/null; echo $?)" -eq 1

# The compile databases: one entry per source, the uncompilable one left out, a missing one named.
mkdir -p "$work/db/one" "$work/db/two"
entry() { printf '{"directory": "%s", "file": "%s", "command": "%s"}' "$work" "$root/$1" "$2"; }
printf '[%s, %s]\n' "$(entry a.cpp first)" "$(entry tests/install/parent/private_header.cpp x)" \
    >"$work/db/one/compile_commands.json"
printf '[%s, %s]\n' "$(entry a.cpp second)" "$(entry b.cpp only)" >"$work/db/two/compile_commands.json"
merge() { python3 "$root/scripts/merge_compile_databases.py" "$work/db" "$root" "$work/sources.txt" one two; }
printf '%s\n' a.cpp b.cpp tests/install/parent/private_header.cpp >"$work/sources.txt"
check "every source in a database: exit 0" merge
check "one entry per source, the first kept" test "$(python3 -c 'import json, sys
print(" ".join(e["command"] for e in json.load(open(sys.argv[1]))))' "$work/db/compile_commands.json")" == "first only"
check "the checked sources listed" test "$(cat "$work/db/checked_sources.txt")" == "$(printf '%s\n' "$root/a.cpp" "$root/b.cpp")"
printf '%s\n' a.cpp c.cpp >"$work/sources.txt"
check "a source in no database: named, exit 1" test "$(merge; echo $?)" == \
    "$(printf 'not in any compile database, so not checked: c.cpp\n1')"

echo "$checked rows, $failed failed"
[[ $failed -eq 0 ]]
