#!/usr/bin/env bash
# Checks on the installed tree, as a product's caller meets it, and on builds that use the
# library from outside.
#   check_install.sh install BUILD_DIR PREFIX
#   check_install.sh abi PREFIX LIBDIR NM READELF BUILD_DIR
#   check_install.sh abidiff BASELINE LIB
#   check_install.sh consumer PREFIX LIBDIR WORK_DIR SOURCE_DIR [cmake args...]
#   check_install.sh pkgconfig PREFIX LIBDIR WORK_DIR SOURCE_DIR CXX [compiler args...]
#   check_install.sh guest SOURCE_ROOT WORK_DIR [cmake args...]
#   check_install.sh fake_sdk SOURCE_ROOT WORK_DIR LIBDIR NM READELF [cmake args...]
#   check_install.sh builtin_fortify SOURCE_ROOT WORK_DIR CXX READELF NM
# QR_EMULATOR runs target programs (cross builds); QR_SANITIZE goes to nested product builds.
set -euo pipefail

self=$(realpath "$0")
fail() { echo "FAIL: $*" >&2; exit 1; }
read -ra emulator <<<"${QR_EMULATOR:-}"
run() { env -u LD_LIBRARY_PATH "${emulator[@]}" "$@"; }

# RUNPATH (or RPATH) of an ELF file; nothing for other files.
search_path() {
    "$readelf" -d "$1" 2>/dev/null | sed -n 's/.*(\(RUNPATH\|RPATH\)).*\[\(.*\)\]/\2/p'
}

# Builds and installs the product against a platform SDK, with its libQrLib.so deployed in
# <prefix>/Base64 as the product has it.
product_on_sdk() {
    local sdk=$1 out=$2
    shift 2
    cmake -S "$root" -B "$out/build" -DQrLib_ROOT="$sdk" -DQR_BUILD_TESTS=OFF \
        -DQR_BUILD_EXAMPLES=OFF -DQR_SANITIZE="${QR_SANITIZE:-}" "$@" >"$out.log"
    cmake --build "$out/build" >>"$out.log"
    cmake --install "$out/build" --prefix "$out/installed" >>"$out.log"
    mkdir -p "$out/installed/Base64"
    cp "$sdk"/*/libQrLib.so "$out/installed/Base64/"
    cmake -S "$root/tests/install/consumer" -B "$out/consumer" \
        -DQrScsiTimeouts_DIR="$out/installed/$libdir/cmake/QrScsiTimeouts" "$@" >>"$out.log"
    cmake --build "$out/consumer" >>"$out.log"
}

case "$1" in
install)
    build=$2 prefix=$3
    rm -rf "$prefix"
    cmake --install "$build" --prefix "$prefix"
    cmake --install "$build" --prefix "$prefix" --component stand_in
    ;;
abi)
    prefix=$2 libdir=$3 nm=$4 readelf=$5 build=$6
    lib=$prefix/$libdir/libQrScsiTimeouts.so
    [[ -f $lib ]] || fail "no $lib"
    [[ -f $prefix/include/QrScsiTimeouts.h ]] || fail "public header not installed"
    [[ -f $prefix/$libdir/cmake/QrScsiTimeouts/QrScsiTimeoutsConfig.cmake ]] ||
        fail "package config not installed"
    [[ ! -e $prefix/$libdir/libQrLib.so ]] || fail "stand-in store installed beside the product"
    [[ -x $prefix/bin/scsi-timeouts ]] || fail "scsi-timeouts not installed"
    [[ -f $prefix/share/man/man1/scsi-timeouts.1.gz ]] || fail "scsi-timeouts(1) not installed"
    [[ -f $prefix/share/bash-completion/completions/scsi-timeouts ]] || fail "completion not installed"

    symbols=$("$nm" -D --defined-only "$lib" | awk '{print $NF}')
    [[ $symbols == "_Z14getScsiTimeouth" ]] || fail "exported symbols: ${symbols//$'\n'/ }"

    # The build tree's library is the installed one, search path included.
    for f in "$lib" "$build/lib/libQrScsiTimeouts.so"; do
        paths=$(search_path "$f")
        [[ $paths == "\$ORIGIN:\$ORIGIN/../Base64" ]] || fail "run-time search path of $f: $paths"
        grep -q '(NEEDED).*\[libQrLib.so\]' <<<"$("$readelf" -d "$f")" || fail "$f: libQrLib.so not needed"
    done
    # An empty element means the working directory: a planted library there would be loaded.
    # (The tests' own nested builds are left out: they may be half-written right now.)
    while IFS= read -r f; do
        paths=$(search_path "$f")
        [[ -z $paths || ":$paths:" != *::* ]] || fail "empty element in $f's search path [$paths]"
    done < <(find "$prefix" "$build" -path "$build/tests" -prune -o -path '*/CMakeFiles' -prune -o \
                  -type f \( -name '*.so*' -o -perm -u+x \) -print)
    echo "ABI ok: one symbol, search path $(search_path "$lib") (installed and built), needs libQrLib.so"
    ;;
abidiff)
    baseline=$2 lib=$3
    # No --headers-dir2: it would filter a changed return type out of the report.
    abidiff "$baseline" "$lib" || fail "ABI differs from $baseline (abidiff exit $?)"
    echo "ABI matches $baseline"
    ;;
consumer)
    prefix=$2 libdir=$3 work=$4 source=$5
    shift 5
    rm -rf "$work"
    # The package directory itself: a cross toolchain may re-root CMAKE_PREFIX_PATH.
    cmake -S "$source" -B "$work" -DQrScsiTimeouts_DIR="$prefix/$libdir/cmake/QrScsiTimeouts" "$@"
    cmake --build "$work"
    # The installed search paths alone must find both libraries.
    run "$work/consumer"
    # So must the installed tool's; on an empty store with no install entry it finds nothing.
    run "$prefix/bin/scsi-timeouts" check >/dev/null || fail "installed scsi-timeouts check: $?"
    ;;
pkgconfig)
    prefix=$2 libdir=$3 work=$4 source=$5 cxx=$6
    shift 6
    rm -rf "$work" && mkdir -p "$work"
    export PKG_CONFIG_LIBDIR=$prefix/$libdir/pkgconfig PKG_CONFIG_PATH='' PKG_CONFIG_SYSROOT_DIR=''
    read -ra flags <<<"$(pkg-config --cflags --libs QrScsiTimeouts)"
    echo "pkg-config: ${flags[*]}"
    # Where to find the library at run time is the consumer's choice; pkg-config gives none.
    "$cxx" -std=c++17 "$source/main.cpp" -o "$work/consumer" "${flags[@]}" \
        -Wl,-rpath,"$(pkg-config --variable=libdir QrScsiTimeouts)" "$@"
    run "$work/consumer"
    ;;
guest)
    root=$2 work=$3
    shift 3
    rm -rf "$work"
    # CMake also takes the build type from the environment. The parent has no nlohmann-json:
    # only the tool needs it, and a guest builds no tool unless asked.
    env -u CMAKE_BUILD_TYPE cmake -S "$root/tests/install/parent" -B "$work" -DQR_SOURCE_DIR="$root" \
        -DCMAKE_DISABLE_FIND_PACKAGE_nlohmann_json=ON "$@"
    forced=$(grep -E '^CMAKE_BUILD_TYPE:[A-Z]+=.' "$work/CMakeCache.txt") &&
        fail "the parent's cache holds a build type: $forced"
    extras=$(cmake --build "$work" --target help |
        grep -E '_test|bench|scsi_timeouts_table|QrScsiTimeouts_Tool|ManPage|Changelogs') &&
        fail "targets the parent did not ask for: ${extras//$'\n'/ }"
    cmake --build "$work"
    # The library's internal header is out of the parent's reach, and that is why this fails.
    cmake --build "$work" --target parent_private >"$work/private.log" 2>&1 &&
        fail "a parent build compiled with the library's internal header"
    grep -Eq "QrScsiTimeoutsModule\.h.*(No such file|not found)" "$work/private.log" ||
        fail "the internal header's build failed otherwise: $(tail -5 "$work/private.log")"
    cmake --install "$work" --prefix "$work/installed" >/dev/null
    [[ -z $(find "$work/installed" -type f 2>/dev/null) ]] || fail "a guest installed files unasked"
    run "$work/parent"
    ;;
fake_sdk)
    root=$2 work=$3 libdir=$4 nm=$5 readelf=$6
    shift 6
    rm -rf "$work" && mkdir -p "$work"
    cmake -S "$root/tests/fake_sdk" -B "$work/sdk-build" "$@" >"$work/sdk.log"
    cmake --build "$work/sdk-build" >>"$work/sdk.log"
    cmake --install "$work/sdk-build" --prefix "$work/sdk" >>"$work/sdk.log"
    # The same library, with the stand-in's header, in the SDK's other layout (lib/).
    mkdir -p "$work/wrong-sdk/include" "$work/wrong-sdk/lib"
    cp "$root/platform/QrPlatformInfo.h" "$work/wrong-sdk/include/"
    cp "$work/sdk/Base64/libQrLib.so" "$work/wrong-sdk/lib/"

    # An SDK without its header is an error, even with a header elsewhere on the search path.
    mkdir -p "$work/headerless/Base64"
    cp "$work/sdk/Base64/libQrLib.so" "$work/headerless/Base64/"
    if cmake -S "$root" -B "$work/headerless-build" -DQrLib_ROOT="$work/headerless" \
        -DCMAKE_PREFIX_PATH="$work/wrong-sdk" -DQR_BUILD_TESTS=OFF "$@" >"$work/headerless.log" 2>&1; then
        fail "configured against an SDK without QrPlatformInfo.h"
    fi
    grep -q 'needs include/QrPlatformInfo.h' "$work/headerless.log" ||
        fail "no clear error for an SDK without its header: $(tail -5 "$work/headerless.log")"

    product_on_sdk "$work/sdk" "$work/right" "$@"
    "$self" abi "$work/right/installed" "$libdir" "$nm" "$readelf" "$work/right/build"
    # The fake registry: INQUIRY 45, CDB_42 33, DEFAULT 300, REWIND its default's marker.
    expected=(0x12=45 0x42=33 0x99=300 0x01=1800)
    run "$work/right/consumer/consumer" "${expected[@]}" || fail "wrong values from the SDK build"
    # The installed tool reads the SDK's registry through the same header.
    status=0
    shown=$(run "$work/right/installed/bin/scsi-timeouts" show 0x12 0x42) || status=$?
    [[ $status -le 1 ]] || fail "installed scsi-timeouts on the SDK: status $status"
    if ! grep -Eq '^0x12 +45 +INQUIRY' <<<"$shown" || ! grep -Eq '^0x42 +33 +CDB_42' <<<"$shown"; then
        fail "scsi-timeouts on the SDK shows: $shown"
    fi

    # Only the library and a consumer: the tool is not run on this one.
    product_on_sdk "$work/wrong-sdk" "$work/wrong" -DQR_BUILD_TOOL=OFF "$@"
    status=0
    run "$work/wrong/consumer/consumer" "${expected[@]}" 2>"$work/wrong.err" || status=$?
    cat "$work/wrong.err"
    [[ $status -ne 0 ]] || fail "built against the wrong header, the library still ran unharmed"
    # Any failure will not do (a loader error fails too): the overrun itself must be caught,
    # by the stack protector or by the fake's own layout checks.
    grep -Eq 'stack smashing detected|QrPlatformInfo damaged' "$work/wrong.err" ||
        fail "the wrong-header run failed (status $status), but not on the overrun"
    echo "built against the wrong header, the run failed as it must (status $status)"
    ;;
builtin_fortify)
    # A compiler that defines _FORTIFY_SOURCE itself, as Ubuntu 24.04's GCC does (=3): the
    # build must not define it again ("redefined" fails a -Werror build), and stays fortified.
    root=$2 work=$3 cxx=$4 readelf=$5 nm=$6
    rm -rf "$work" && mkdir -p "$work"
    printf '#!/bin/sh\nexec %q -D_FORTIFY_SOURCE=3 "$@"\n' "$cxx" >"$work/c++"
    chmod +x "$work/c++"
    cmake -S "$root" -B "$work/build" -DCMAKE_CXX_COMPILER="$work/c++" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_FLAGS=-Werror -DQR_BUILD_TESTS=OFF -DQR_BUILD_EXAMPLES=OFF -DQR_BUILD_TOOL=OFF \
        >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "configure"; }
    cmake --build "$work/build" --target QrScsiTimeouts >>"$work/build.log" 2>&1 ||
        { grep -m3 -E 'error|warning' "$work/build.log"; fail "the library does not build on that compiler"; }
    "$(dirname "$self")/check_hardening.sh" "$work/build/lib/libQrScsiTimeouts.so" "$readelf" "$nm" fortify
    ;;
*)
    fail "unknown check $1"
    ;;
esac
