#!/usr/bin/env bash
# Each test binary, run directly with a store file exported, leaves that file byte for byte as it
# was: its main gives the stand-in no file. Each runs the few tests its filter names, which load
# the stand-in (and most write markers); the file's values would make them fail if read.
#   stand_in_sentinel.sh FOLDER BINARY FILTER [BINARY FILTER...]
# QR_EMULATOR runs target programs (cross builds).
set -euo pipefail
read -ra emulator <<<"${QR_EMULATOR:-}"
folder=$1
shift
mkdir -p "$folder"
sentinel=$folder/sentinel.ini
printf '# sentinel\n[Base]\nvARURAROD=1\n[ScsiTimeouts]\nREWIND=7\nINQUIRY=7\nDEFAULT=7\n' >"$sentinel"
cp "$sentinel" "$folder/expected.ini"
status=0
while (($# >= 2)); do
    binary=$1 filter=$2
    shift 2
    if ! out=$(QRLIB_STAND_IN_FILE=$sentinel "${emulator[@]}" "$binary" "--gtest_filter=$filter" 2>&1); then
        echo "FAIL: $binary --gtest_filter=$filter failed with the file exported:"
        echo "$out"
        status=1
    elif ! grep -Eq '^\[  PASSED  \] [1-9][0-9]* test' <<<"$out"; then
        echo "FAIL: $binary --gtest_filter=$filter ran no test"
        status=1
    fi
    if ! cmp -s "$sentinel" "$folder/expected.ini"; then
        echo "FAIL: $binary changed the exported store file:"
        diff "$folder/expected.ini" "$sentinel" || true
        cp "$folder/expected.ini" "$sentinel"
        status=1
    fi
done
((status == 0)) && echo "no test binary touched the exported store file"
exit "$status"
