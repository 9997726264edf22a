#!/usr/bin/env bash
# The installed bash completion of scsi-timeouts, loaded as bash-completion loads it (by the
# command's name, from <prefix>/share/bash-completion/completions) and run through its function
# with COMP_WORDS and COMP_CWORD, as bash runs it at a TAB. The NAMEs come from the installed
# tool. QR_EMULATOR runs it (cross builds).
#   admin_tool_completion.sh PREFIX WORK_DIR
set -euo pipefail
prefix=$1 work=$2
fail() { echo "FAIL: $*"; exit 1; }
main=/usr/share/bash-completion/bash_completion
[[ -f $main ]] || fail "bash-completion is not installed ($main)"
rm -rf "$work" && mkdir -p "$work/home" "$work/reports"
: >"$work/reports/drive.bin"
: >"$work/reports/kern.log"
: >"$work/reports/lto9.profile"
# The completion runs the command as typed; here that is the installed tool, through the emulator.
tool=$work/scsi-timeouts
printf '#!/bin/sh\nexec %s %q "$@"\n' "${QR_EMULATOR:-}" "$prefix/bin/scsi-timeouts" >"$tool"
chmod +x "$tool"

export HOME=$work/home XDG_DATA_HOME=$work/home XDG_DATA_DIRS=$prefix/share
# shellcheck source=/dev/null
source "$main"
_completion_loader scsi-timeouts || true
function=$(complete -p scsi-timeouts 2>/dev/null | sed -n 's/.*-F \([^ ]*\) .*/\1/p')
[[ -n $function ]] || fail "no completion for scsi-timeouts found under $prefix/share"

# Words after the command name (the last is the one completed), then what the offers must be,
# as the shell would insert them, separated by commas:
#   =a,b     exactly these;   ^RE,a,b  these among others, and every offer starts with RE (any case)
rows=(
    "s|=set,show"
    "e|=export"
    "a|=advise,apply"
    "apply --|=--check,--diff,--exclusive,--json,--help"
    "apply --check $work/reports/l|=$work/reports/lto9.profile"
    "export --|=--json,--help"
    "set RE|^RE,REWIND,RESERVE,READ,READ_ELEMENT_STATUS,READ\\(6\\),READ\\ ATTRIBUTE,READ\\ POSITION"
    "show --j|=--json"
    "show REWIND loc|^loc,LOCATE\\(10\\),LOCATE\\(16\\)"
    "show cdb|=CDB_"
    "set --d|=--dry-run"
    "set REWIND |="
    "reset -- def|=DEFAULT"
    "--v|=--version"
    "advise --drive-report $work/reports/d|=$work/reports/drive.bin"
    "advise --th|=--this-host"
    "advise --device $work/reports/d|=$work/reports/drive.bin"
    "advise --since -7d --dev|=--device,--devices"
    "advise --j|=--journal,--journal=,--json"
    "advise --journal = $work/reports/k|=$work/reports/kern.log"
)
failed=0
for row in "${rows[@]}"; do
    read -ra words <<<"${row%%|*}"
    [[ ${row%%|*} == *" " ]] && words+=("")
    expected=${row#*|}
    COMP_WORDS=("$tool" "${words[@]}")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="${COMP_WORDS[*]}" COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    "$function" scsi-timeouts "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    offered=$(printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort)
    problem=""
    case $expected in
    =*)
        want=$(tr ',' '\n' <<<"${expected#=}" | sed '/^$/d' | sort)
        [[ $offered == "$want" ]] || problem="offered: ${offered//$'\n'/ }"
        ;;
    ^*)
        IFS=, read -ra want <<<"${expected#^}"
        prefix_typed=${want[0]}
        for w in "${want[@]:1}"; do
            grep -qxF -- "$w" <<<"$offered" || problem+="no $w; "
        done
        stray=$(grep -viE "^${prefix_typed}" <<<"$offered") && problem+="not ${prefix_typed}...: ${stray//$'\n'/ }; "
        [[ $(uniq -d <<<"$offered") == "" ]] || problem+="offered twice: $(uniq -d <<<"$offered")"
        ;;
    esac
    if [[ -n $problem ]]; then
        echo "FAIL: scsi-timeouts ${row%%|*}<TAB>: $problem"
        failed=$((failed + 1))
    fi
done
echo "${#rows[@]} completions, $failed wrong"
[[ $failed -eq 0 ]]
