#!/usr/bin/env bash
# Checks on the installed tree, as a product's caller meets it.
#   check_install.sh install BUILD_DIR PREFIX
#   check_install.sh abi PREFIX LIBDIR NM READELF
#   check_install.sh consumer PREFIX LIBDIR WORK_DIR SOURCE_DIR [cmake args...]
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }

case "$1" in
install)
    build=$2 prefix=$3
    rm -rf "$prefix"
    cmake --install "$build" --prefix "$prefix"
    cmake --install "$build" --prefix "$prefix" --component stand_in
    ;;
abi)
    prefix=$2 libdir=$3 nm=$4 readelf=$5
    lib=$prefix/$libdir/libQrScsiTimeouts.so
    [[ -f $lib ]] || fail "no $lib"
    [[ -f $prefix/include/QrScsiTimeouts.h ]] || fail "public header not installed"
    [[ -f $prefix/$libdir/cmake/QrScsiTimeouts/QrScsiTimeoutsConfig.cmake ]] ||
        fail "package config not installed"
    [[ ! -e $prefix/$libdir/libQrLib.so ]] || fail "stand-in store installed beside the product"

    symbols=$("$nm" -D --defined-only "$lib" | awk '{print $NF}')
    [[ $symbols == "_Z14getScsiTimeouth" ]] || fail "exported symbols: $(echo $symbols)"

    dynamic=$("$readelf" -d "$lib")
    paths=$(sed -n 's/.*(\(RUNPATH\|RPATH\)).*\[\(.*\)\]/\2/p' <<<"$dynamic")
    [[ $paths == "\$ORIGIN:\$ORIGIN/../Base64" ]] || fail "run-time search path: $paths"
    grep -q '(NEEDED).*\[libQrLib.so\]' <<<"$dynamic" || fail "libQrLib.so not needed"
    echo "ABI ok: one symbol, search path $paths, needs libQrLib.so"
    ;;
consumer)
    prefix=$2 libdir=$3 work=$4 source=$5
    shift 5
    rm -rf "$work"
    # The package directory itself: a cross toolchain may re-root CMAKE_PREFIX_PATH.
    cmake -S "$source" -B "$work" -DQrScsiTimeouts_DIR="$prefix/$libdir/cmake/QrScsiTimeouts" "$@"
    cmake --build "$work"
    # The installed search paths alone must find both libraries.
    env -u LD_LIBRARY_PATH ${QR_EMULATOR:-} "$work/consumer"
    ;;
*)
    fail "unknown check $1"
    ;;
esac
