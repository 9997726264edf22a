#!/usr/bin/env bash
# Builds one tree twice, from two source directories into two build directories, and compares
# every installed file, stripped and unstripped, in each build type given.
#   check_reproducible.sh SOURCE_ROOT WORK_DIR READELF CPACK|- GENERATORS "BUILD_TYPE..."
#                         OWN_BUILD|- [cmake args...]
#   check_reproducible.sh compare A_DIR B_DIR READELF
# A file that differs is named with the ELF sections whose bytes differ. With CPACK, the packages
# of both builds are compared too (cpack's GENERATORS, e.g. "TGZ;DEB;RPM"), made at one
# SOURCE_DATE_EPOCH. OWN_BUILD, the build tree of
# SOURCE_ROOT this test belongs to, is the first build of its own build type: it is built already,
# from another directory than the copy it is compared with, so it is not built a second time.
set -euo pipefail

self=$(realpath "$0")
fail() { echo "FAIL: $*" >&2; exit 1; }

# Name, offset and size (hex) of every section that has bytes in the file.
sections() {
    "$readelf" -SW "$1" | sed -n 's/^ *\[ *[0-9]*\] //p' |
        awk '$2 != "NOBITS" && $2 != "NULL" {print $1, $4, $5}'
}

section_bytes() {
    local file=$1 offset=$2 size=$3
    tail -c +$((16#$offset + 1)) "$file" | head -c $((16#$size))
}

# Prints why two ELF files differ: the sections of one layout whose bytes differ, or the layouts.
elf_difference() {
    local a=$1 b=$2 name offset size
    if ! cmp -s <(sections "$a") <(sections "$b"); then
        echo "  section layout differs:"
        diff <(sections "$a") <(sections "$b") | sed 's/^/    /'
    fi
    local offsets_a offsets_b
    offsets_a=$(sections "$a")
    offsets_b=$(sections "$b")
    while read -r name offset size; do
        local other=()
        read -ra other < <(awk -v n="$name" '$1 == n {print $2, $3; exit}' <<<"$offsets_b") || true
        if [[ ${#other[@]} -eq 0 ]]; then
            echo "  section $name only in the first"
        elif ! cmp -s <(section_bytes "$a" "$offset" "$size") <(section_bytes "$b" "${other[@]}"); then
            echo "  section $name differs"
        fi
    done <<<"$offsets_a"
}

# 0 when both trees hold the same files with the same bytes and modes.
compare_trees() {
    local a=$1 b=$2 rc=0 file
    if ! diff <(cd "$a" && find . -printf '%y %m %p\n' | sort) \
        <(cd "$b" && find . -printf '%y %m %p\n' | sort) >/dev/null; then
        echo "installed file lists differ between $a and $b:"
        diff <(cd "$a" && find . -printf '%y %m %p\n' | sort) \
            <(cd "$b" && find . -printf '%y %m %p\n' | sort) | sed 's/^/  /'
        rc=1
    fi
    while IFS= read -r file; do
        [[ -f $b/$file ]] || continue
        cmp -s "$a/$file" "$b/$file" && continue
        echo "differs: $file"
        if [[ $(head -c 4 "$a/$file" | od -An -c | tr -d ' ') == 177ELF ]]; then
            elf_difference "$a/$file" "$b/$file"
        fi
        rc=1
    done < <(cd "$a" && find . -type f | sort)
    return "$rc"
}

# The tree as it stands, uncommitted edits included, without build trees and version control.
copy_tree() {
    local from=$1 to=$2
    mkdir -p "$to"
    tar -C "$from" --exclude-vcs --exclude='./build*' --exclude=./out -cf - . | tar -C "$to" -xf -
}

if [[ $1 == compare ]]; then
    readelf=$4
    compare_trees "$2" "$3"
    exit
fi

root=$1 work=$2 readelf=$3 cpack=$4 generators=$5 types=$6 own=$7
shift 7
own_type=""
if [[ $own != - ]]; then
    own_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$own/CMakeCache.txt")
    # The date its packages' changelog was given when it was configured.
    own_epoch=$(sed -n 's/^QR_CHANGELOG_EPOCH:[A-Z]*=//p' "$own/CMakeCache.txt")
    [[ -n $own_epoch ]] && export SOURCE_DATE_EPOCH=$own_epoch
fi
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-1767225600}
rm -rf "$work"
# Different depths and lengths, so that any path left in a file shows.
sources=("$work/a/src" "$work/second-copy/of/the/source")
for i in 0 1; do
    copy_tree "$root" "${sources[$i]}"
done

rc=0
for type in $types; do
    for i in 0 1; do
        build=$work/build-$i/$type log=$work/build-$i/$type.log
        mkdir -p "$work/build-$i"
        : >"$log"
        if [[ $i -eq 0 && $type == "$own_type" ]]; then
            build=$own
        else
            cmake -S "${sources[$i]}" -B "$build" -DCMAKE_BUILD_TYPE="$type" -DQR_BUILD_TESTS=OFF \
                -DQR_BUILD_EXAMPLES=OFF "$@" >"$log" 2>&1 || { cat "$log"; fail "configure"; }
            cmake --build "$build" --parallel "$(nproc)" >>"$log" 2>&1 || { tail -30 "$log"; fail "build"; }
        fi
        for strip in plain strip; do
            prefix=$work/installed-$i/$type-$strip
            flags=()
            [[ $strip == strip ]] && flags=(--strip)
            # What a plain install gives, and the stand-in.
            cmake --install "$build" --prefix "$prefix" "${flags[@]}" >>"$log"
            cmake --install "$build" --prefix "$prefix" --component stand_in "${flags[@]}" \
                >>"$log"
        done
        if [[ $cpack != - ]]; then
            "$cpack" --config "$build/CPackConfig.cmake" -G "$generators" -B "$work/packages-$i/$type" \
                >>"$log" 2>&1 ||
                { tail -30 "$log"; fail "cpack"; }
            rm -rf "$work/packages-$i/$type/_CPack_Packages"
        fi
    done
    if [[ $cpack != - ]]; then
        if compare_trees "$work/packages-0/$type" "$work/packages-1/$type"; then
            echo "$type, packages: $(find "$work/packages-0/$type" -type f | wc -l) identical"
        else
            echo "$type: the packages above differ"
            rc=1
        fi
    fi
    for strip in plain strip; do
        a=$work/installed-0/$type-$strip b=$work/installed-1/$type-$strip
        [[ -n $(find "$a" -name libQrScsiTimeouts.so) && -n $(find "$a" -name scsi-timeouts) ]] ||
            fail "library or tool not installed in $a"
        if compare_trees "$a" "$b"; then
            echo "$type, $strip: $(find "$a" -type f | wc -l) installed files identical"
        else
            echo "$type, $strip: the installed files above differ"
            rc=1
        fi
    done
done

# The comparison itself must see a difference in one section and name it.
probe=$work/probe
lib=$(find "$work/installed-0" -name libQrScsiTimeouts.so -path '*-plain/*' | head -1)
mkdir -p "$probe/a" "$probe/b"
cp "$lib" "$probe/a/" && cp "$lib" "$probe/b/"
read -r _ offset _ < <(sections "$lib" | awk '$1 == ".text"')
printf '\x01' | dd of="$probe/b/libQrScsiTimeouts.so" bs=1 seek=$((16#$offset)) conv=notrunc \
    status=none
printf '\x02' | dd of="$probe/a/libQrScsiTimeouts.so" bs=1 seek=$((16#$offset)) conv=notrunc \
    status=none
report=$("$self" compare "$probe/a" "$probe/b" "$readelf") && fail "a changed .text compared equal"
grep -qx '  section .text differs' <<<"$report" || fail "a changed .text was reported as: $report"
[[ $(grep -c 'section .* differs' <<<"$report") -eq 1 ]] || fail "more than .text named: $report"
exit "$rc"
