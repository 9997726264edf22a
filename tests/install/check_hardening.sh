#!/usr/bin/env bash
# Checks that the installed library is hardened: it is loaded into other programs' processes.
#   check_hardening.sh LIBRARY READELF NM fortify|no-fortify
# no-fortify: the build defines no _FORTIFY_SOURCE (not optimising, or sanitized), so glibc's
# checked calls are not looked for.
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }

lib=$1 readelf=$2 nm=$3 fortify=$4
[[ -f $lib ]] || fail "no $lib"
# A host readelf or nm that cannot read the target's ELF must not pass for an empty result.
machine=$("$readelf" -h "$lib" | sed -n 's/^ *Machine: *//p') || true
[[ -n $machine ]] || fail "$readelf cannot read $lib"
segments=$("$readelf" -lW "$lib") || fail "$readelf -l failed on $lib"
dynamic=$("$readelf" -dW "$lib") || fail "$readelf -d failed on $lib"
imports=$("$nm" -D --undefined-only "$lib") || fail "$nm cannot read $lib"
imports=$(awk '{sub(/@.*/, "", $NF); print $NF}' <<<"$imports")

grep -q '^ *GNU_RELRO ' <<<"$segments" || fail "no GNU_RELRO segment (-z relro)"
grep -Eq '\(FLAGS\).*BIND_NOW|\(BIND_NOW\)|\(FLAGS_1\).* NOW' <<<"$dynamic" ||
    fail "no BIND_NOW: the relocations are not read-only after start-up (-z now)"
# Without a GNU_STACK header the loader makes the stack executable.
stack=$(awk '$1 == "GNU_STACK" {print $(NF - 1)}' <<<"$segments")
[[ -n $stack && $stack != *E* ]] || fail "stack not marked non-executable: '$stack' (-z noexecstack)"
grep -qx '__stack_chk_fail' <<<"$imports" || fail "no __stack_chk_fail: no stack protector"

if [[ $fortify == fortify ]]; then
    # The calls glibc has a checked _chk form of. With _FORTIFY_SOURCE=2 a formatted print
    # always goes through its _chk form; the mem* calls are left out, because the compiler turns
    # a checked copy of a known, fitting size back into the plain call.
    plain=$(grep -Ex '(v?s?n?printf|v?f?printf|v?dprintf|st[rp]n?cpy|strn?cat)' <<<"$imports") || true
    [[ -z $plain ]] || fail "unfortified imports: ${plain//$'\n'/ } (no -D_FORTIFY_SOURCE=2?)"
    checked=$(grep -E '^__.+_chk$' <<<"$imports") || true
    if [[ -n $checked ]]; then
        fortified="checked calls: ${checked//$'\n'/ }"
    else
        fortified="no fortifiable call in the library, so no checked call to find"
    fi
else
    fortified="FORTIFY not checked: this build does not define _FORTIFY_SOURCE"
fi
echo "hardening ok ($machine): GNU_RELRO, BIND_NOW, __stack_chk_fail, stack $stack; $fortified"
