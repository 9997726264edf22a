#!/usr/bin/env bash
# Builds the packages of a build tree and checks them as a release engineer would: each Debian
# package's files and control fields, the tarball against a plain install, and a consumer built
# and run against the packages unpacked into a scratch root.
#   check_package.sh BUILD_DIR WORK_DIR CPACK READELF VERSION DEB_ARCH STAND_IN SOURCE_DIR
#                    [cmake args...]
# STAND_IN is the stand-in libQrLib.so, put where the platform's would be; SOURCE_DIR the
# consumer's sources.
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }
read -ra emulator <<<"${QR_EMULATOR:-}"
run() { env -u LD_LIBRARY_PATH "${emulator[@]}" "$@"; }

build=$1 work=$2 cpack=$3 readelf=$4 version=$5 arch=$6 stand_in=$7 source=$8
shift 8
rm -rf "$work" && mkdir -p "$work"
"$cpack" --config "$build/CPackConfig.cmake" -B "$work/packages" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack"; }
grep -i 'warning' "$work/cpack.log" && fail "cpack warned"
cmake --install "$build" --prefix "$work/plain" >/dev/null
plain_files=$(cd "$work/plain" && find . -type f | sed 's|^\./||' | sort)

# Package, then the extended regular expression every file of it matches, then the files it
# must hold. Together the packages hold exactly what a plain install gives.
packages=(
    "libqrscsitimeouts1|lib/libQrScsiTimeouts\.so|lib/libQrScsiTimeouts.so"
    "libqrscsitimeouts-dev|include/[^/]+\.h|lib/cmake/QrScsiTimeouts/[^/]+\.cmake|lib/pkgconfig/QrScsiTimeouts\.pc|include/QrScsiTimeouts.h lib/cmake/QrScsiTimeouts/QrScsiTimeoutsConfig.cmake lib/cmake/QrScsiTimeouts/QrScsiTimeoutsConfigVersion.cmake lib/cmake/QrScsiTimeouts/QrScsiTimeoutsTargets.cmake lib/pkgconfig/QrScsiTimeouts.pc"
    "scsi-timeouts|bin/scsi-timeouts|share/man/man1/scsi-timeouts\.1|bin/scsi-timeouts share/man/man1/scsi-timeouts.1"
)
root=$work/root
all_deb_files=""
for row in "${packages[@]}"; do
    name=${row%%|*}
    required=${row##*|}
    pattern=${row#*|}
    pattern="^(${pattern%|*})$"
    deb=$work/packages/${name}_${version}_$arch.deb
    [[ -f $deb ]] || fail "no package $deb; there are: $(ls "$work/packages")"

    info=$(dpkg-deb --info "$deb") || fail "dpkg-deb --info $deb"
    for field in Package Version Architecture Maintainer Description Depends; do
        grep -q "^ $field: ." <<<"$info" || fail "$name: no $field field"
    done
    [[ $(dpkg-deb --field "$deb" Package) == "$name" ]] || fail "$name: Package field"
    [[ $(dpkg-deb --field "$deb" Version) == "$version" ]] || fail "$name: Version field"
    [[ $(dpkg-deb --field "$deb" Architecture) == "$arch" ]] || fail "$name: Architecture field"
    depends=$(dpkg-deb --field "$deb" Depends)
    grep -iq qrlib <<<"$depends" && fail "$name depends on a package for libQrLib.so: $depends"
    case $name in
    libqrscsitimeouts-dev)
        [[ $depends == "libqrscsitimeouts1 (= $version)" ]] || fail "$name depends on: $depends" ;;
    *)
        if ! grep -Eq '(^|, )libc6( |,|$)' <<<"$depends" ||
            ! grep -Eq '(^|, )libstdc\+\+6( |,|$)' <<<"$depends"; then
            fail "$name depends on: $depends"
        fi
        dpkg-deb --field "$deb" Description | grep -q 'libQrLib.so, which the platform itself ships' ||
            fail "$name: the description does not say that the platform ships libQrLib.so"
        ;;
    esac

    files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $NF}' | sed 's|^\./usr/||' | sort)
    [[ -n $files ]] || fail "$name holds no files"
    stray=$(grep -Ev "$pattern" <<<"$files") && fail "$name holds files not its own: ${stray//$'\n'/ }"
    for file in $required; do
        grep -qx "$file" <<<"$files" || fail "$name lacks $file"
    done
    all_deb_files+=$files$'\n'
    dpkg -x "$deb" "$root"
done
[[ $(sort <<<"${all_deb_files%$'\n'}") == "$plain_files" ]] ||
    fail "the packages do not hold a plain install: $(diff <(sort <<<"${all_deb_files%$'\n'}") <(echo "$plain_files"))"

# The tarball is a plain install under one top directory.
tarball=$work/packages/qrscsitimeouts-$version-$(uname -m).tar.gz
[[ -f $tarball ]] || tarball=$(ls "$work"/packages/qrscsitimeouts-"$version"-*.tar.gz)
tar_files=$(tar -tzvf "$tarball" | awk '$1 !~ /^d/ {print $NF}' | sed 's|^[^/]*/||' | sort)
[[ $tar_files == "$plain_files" ]] ||
    fail "the tarball is not laid out like a plain install: $(diff <(echo "$tar_files") <(echo "$plain_files"))"

# Shipped binaries carry no debug information.
for file in usr/lib/libQrScsiTimeouts.so usr/bin/scsi-timeouts; do
    "$readelf" -SW "$root/$file" | grep -Eq ' \.(symtab|debug_info) ' && fail "$file is shipped unstripped"
done

# The platform's library where the platform puts it, then a caller built against the packages.
mkdir -p "$root/usr/Base64"
cp "$stand_in" "$root/usr/Base64/libQrLib.so"
cmake -S "$source" -B "$work/consumer" -DQrScsiTimeouts_DIR="$root/usr/lib/cmake/QrScsiTimeouts" \
    "$@" >"$work/consumer.log" 2>&1 || { cat "$work/consumer.log"; fail "consumer configure"; }
cmake --build "$work/consumer" >>"$work/consumer.log" 2>&1 || { cat "$work/consumer.log"; fail "consumer build"; }
grep -q "$root/usr/lib/libQrScsiTimeouts.so" "$work/consumer/CMakeFiles/consumer.dir/link.txt" ||
    fail "the consumer did not link the packaged library"
run "$work/consumer/consumer" || fail "consumer against the packages"
run "$root/usr/bin/scsi-timeouts" check >/dev/null || fail "packaged scsi-timeouts check: $?"
echo "packages ok:" "$work"/packages/*.deb "$tarball"
