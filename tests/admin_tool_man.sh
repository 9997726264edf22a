#!/usr/bin/env bash
# The man page renders every example as written: each line between .nf and .fi, and each line
# anywhere with a JSON object in it, its macro and font escapes taken away, appears in what man
# prints, quotes and all (roff takes the quotes of a macro line for its own).
#   admin_tool_man.sh MANPAGE
set -euo pipefail
page=$1
command -v man >/dev/null || { echo "FAIL: man (man-db) is not installed"; exit 1; }
rendered=$(MANWIDTH=250 MANPAGER=cat PAGER=cat man -l "$page" 2>&1 | sed 's/[[:space:]]\+/ /g')
checked=0
failed=0
while IFS= read -r line; do
    expected=$(sed -e 's/^\.[A-Z]\{1,2\} //' -e 's/\\f[BIRP]//g' -e 's/\\-/-/g' -e 's/\\(dq/"/g' -e 's/\\e/\\/g' \
        -e 's/[[:space:]]\+/ /g' -e 's/^ //' -e 's/ $//' <<<"$line")
    [[ -n $expected ]] || continue
    checked=$((checked + 1))
    if ! grep -qF -- "$expected" <<<"$rendered"; then
        echo "FAIL: not rendered as written: $expected"
        failed=$((failed + 1))
    fi
done < <(awk '/^\.nf/{inside=1; next} /^\.fi/{inside=0} (inside && !/^\.(RS|RE|br)/) || /\{"/' "$page")
[[ $checked -ge 5 ]] || { echo "FAIL: only $checked example lines found"; exit 1; }
echo "$checked example lines rendered as written, $failed not"
[[ $failed -eq 0 ]]
