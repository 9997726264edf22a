#!/usr/bin/env bash
# Builds the packages as a release engineer would and checks them: the /usr packages of a build
# tree, and the /opt/qr packages of a second build of the same sources (QR_PACKAGE_PREFIX). For
# each: every package's files and control members, its fields, lintian, the payload against a
# plain install, and a consumer and the tool run from the packages unpacked into a scratch root
# beside a Base64 stand-in; then the RPM packages of the same build in the same way
# (check_rpm.sh), with rpmlint, rpm -i and rpm -e. For the /usr build also the tarball.
#   check_package.sh BUILD_DIR WORK_DIR CPACK READELF VERSION DEB_ARCH STAND_IN CONSUMER_SOURCE
#                    PROJECT_SOURCE PACKAGE_LIBDIR RPM_ARCH RPM_LIBDIR [cmake args...]
# STAND_IN is the stand-in libQrLib.so, put where the platform's would be; PACKAGE_LIBDIR the
# /usr Debian packages' library directory (lib/<triplet>), RPM_LIBDIR the RPM packages' (lib64).
# DEB_ARCH - (cross builds): the RPM packages only, held to the Debian packages' file lists.
set -euo pipefail
# shellcheck source=tests/install/check_rpm.sh
source "$(dirname "$0")/check_rpm.sh"

fail() { echo "FAIL: $*" >&2; exit 1; }
read -ra emulator <<<"${QR_EMULATOR:-}"
run() { env -u LD_LIBRARY_PATH "${emulator[@]}" "$@"; }

build=$1 work=$2 cpack=$3 readelf=$4 version=$5 arch=$6 stand_in=$7 source=$8 project=$9
package_libdir=${10} rpm_arch=${11} rpm_libdir=${12}
shift 12
[[ $arch == - ]] || command -v lintian >/dev/null || fail "lintian is not installed"
rm -rf "$work" && mkdir -p "$work"

# check_layout NAME BUILD PREFIX LIBDIR BASE64: the packages of BUILD, installing under PREFIX
# with the library in PREFIX/LIBDIR, and the platform's library in PREFIX/BASE64.
check_layout() {
    local name=$1 tree=$2 prefix=$3 libdir=$4 base64=$5
    local out=$work/$name p=${3#/} generators="TGZ;DEB;RPM"
    mkdir -p "$out"
    [[ $arch == - ]] && generators=RPM
    "$cpack" --config "$tree/CPackConfig.cmake" -G "$generators" -B "$out/packages" >"$out/cpack.log" 2>&1 ||
        { cat "$out/cpack.log"; fail "cpack ($name)"; }
    grep -i 'warning' "$out/cpack.log" && fail "cpack warned ($name)"
    cmake --install "$tree" --prefix "$out/plain" >/dev/null
    local plain_files
    plain_files=$(cd "$out/plain" && find . -type f | sed 's|^\./||' | sort)

    # Package, its RPM name, then every file it holds (besides its copyright and changelog),
    # then its control members. The payloads together hold exactly a plain install, with the
    # packages' libdir.
    local triggers="" overrides=usr/share/lintian/overrides/ others=""
    [[ $prefix == /usr ]] && triggers=" triggers"
    [[ $prefix == /opt/* ]] && others=$overrides
    local packages=(
        "libqrscsitimeouts1|qrscsitimeouts|$p/$libdir/libQrScsiTimeouts.so ${overrides}libqrscsitimeouts1|control md5sums$triggers"
        "libqrscsitimeouts-dev|qrscsitimeouts-devel|$p/include/QrScsiTimeouts.h $p/$libdir/cmake/QrScsiTimeouts/QrScsiTimeoutsConfig.cmake $p/$libdir/cmake/QrScsiTimeouts/QrScsiTimeoutsConfigVersion.cmake $p/$libdir/cmake/QrScsiTimeouts/QrScsiTimeoutsTargets.cmake $p/$libdir/cmake/QrScsiTimeouts/QrScsiTimeoutsTargets-${build_type,,}.cmake $p/$libdir/pkgconfig/QrScsiTimeouts.pc ${others:+${others}libqrscsitimeouts-dev}|control md5sums"
        "scsi-timeouts|scsi-timeouts|$p/bin/scsi-timeouts $p/share/man/man1/scsi-timeouts.1.gz $p/share/bash-completion/completions/scsi-timeouts ${others:+${others}scsi-timeouts}|control md5sums"
    )
    local root=$out/root row package files expected control members depends payload=""
    declare -A deb_files=()
    for row in "${packages[@]}"; do
        IFS='|' read -r package _ files control <<<"$row"
        # shellcheck disable=SC2086  # one file per word
        expected=$(printf '%s\n' $files "usr/share/doc/$package/copyright" \
            "usr/share/doc/$package/changelog.gz" | sort)
        deb_files[$package]=$expected
        payload+=$(grep -v '^usr/share/\(doc\|lintian\)/' <<<"$expected" || true)$'\n'
        [[ $arch == - ]] && continue
        local deb=$out/packages/${package}_${version}_$arch.deb
        [[ -f $deb ]] || fail "no package $deb; there are: $(ls "$out/packages")"
        local held
        held=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $NF}' | sed 's|^\./||' | sort)
        [[ $held == "$expected" ]] || fail "$package ($name) holds: $(diff <(echo "$expected") <(echo "$held"))"
        members=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | sed 's|^\./||; /^$/d' | sort | paste -sd' ')
        [[ $members == "$(tr ' ' '\n' <<<"$control" | sort | paste -sd' ')" ]] ||
            fail "$package ($name) control members: $members (no maintainer scripts, only: $control)"

        [[ $(dpkg-deb --field "$deb" Package) == "$package" ]] || fail "$package: Package field"
        [[ $(dpkg-deb --field "$deb" Version) == "$version" ]] || fail "$package: Version field"
        [[ $(dpkg-deb --field "$deb" Architecture) == "$arch" ]] || fail "$package: Architecture field"
        [[ -n $(dpkg-deb --field "$deb" Maintainer) ]] || fail "$package: no Maintainer"
        depends=$(dpkg-deb --field "$deb" Depends)
        grep -iq qrlib <<<"$depends" && fail "$package depends on a package for libQrLib.so: $depends"
        case $package in
        libqrscsitimeouts-dev)
            [[ $depends == "libqrscsitimeouts1 (= $version)" ]] || fail "$package depends on: $depends" ;;
        *)
            if ! grep -Eq '(^|, )libc6 \(>= ' <<<"$depends" || ! grep -Eq '(^|, )libstdc\+\+6 \(>= ' <<<"$depends"; then
                fail "$package depends on: $depends"
            fi
            if [[ $package == scsi-timeouts ]] && ! grep -Eq "(^|, )libqrscsitimeouts1 \(= $version\)(,|$)" <<<"$depends"; then
                fail "$package does not depend on its own version of the library: $depends"
            fi
            # The tool reads the journal and asks the drives; the library needs neither.
            if [[ $package == scsi-timeouts ]] && { ! grep -Eq '(^|, )libsystemd0( |,|$)' <<<"$depends" ||
                ! grep -Eq '(^|, )libsgutils2-[0-9.]+-[0-9]+( |,|$)' <<<"$depends"; }; then
                fail "$package does not depend on libsystemd0 and libsgutils2: $depends"
            fi
            if [[ $package == libqrscsitimeouts1 ]] && grep -Eq 'libsystemd|libsgutils' <<<"$depends"; then
                fail "$package depends on what only the tool needs: $depends"
            fi
            [[ $(dpkg-deb --field "$deb" Description) == *'libQrLib.so, which the platform itself ships'* ]] ||
                fail "$package: the description does not say that the platform ships libQrLib.so"
            ;;
        esac
        dpkg -x "$deb" "$root"
    done
    payload=$(sed '/^$/d' <<<"$payload" | sed "s|^$p/||; s|^$libdir/|lib/|" | sort)
    [[ $payload == "$plain_files" ]] ||
        fail "the $name packages do not hold a plain install: $(diff <(echo "$payload") <(echo "$plain_files"))"
    if [[ $arch == - ]]; then
        check_rpms "$name" "$out" "$prefix" "$rpm_libdir/../Base64"
        return
    fi
    if [[ $prefix == /usr ]]; then
        local trigger
        trigger=$(dpkg-deb --ctrl-tarfile "$out/packages/libqrscsitimeouts1_${version}_$arch.deb" | tar -xO ./triggers)
        [[ $trigger == 'activate-noawait ldconfig' ]] || fail "the ldconfig trigger is: $trigger"
    fi

    # Debian's own checker; the overrides are only the kept SONAME and, under /opt, /opt itself.
    lintian --fail-on error,warning --tag-display-limit 0 "$out"/packages/*.deb >"$out/lintian.log" 2>&1 ||
        { cat "$out/lintian.log"; fail "lintian ($name)"; }

    # Shipped binaries carry no debug information.
    local file
    for file in "$p/$libdir/libQrScsiTimeouts.so" "$p/bin/scsi-timeouts"; do
        grep -Eq ' \.(symtab|debug_info) ' <<<"$("$readelf" -SW "$root/$file")" && fail "$file is shipped unstripped"
    done
    # The compressed man page renders as the source does, quotes and all.
    cmp -s <(MANWIDTH=100 man -l "$root/$p/share/man/man1/scsi-timeouts.1.gz" 2>&1) \
        <(MANWIDTH=100 man -l "$project/admin_tool/scsi-timeouts.1" 2>&1) ||
        fail "the packaged man page does not render as its source"

    # The platform's library where the platform puts it, then a caller built against the
    # packages, and the packaged tool.
    mkdir -p "$root/$p/$base64"
    cp "$stand_in" "$root/$p/$base64/libQrLib.so"
    cmake -S "$source" -B "$out/consumer" -DQrScsiTimeouts_DIR="$root/$p/$libdir/cmake/QrScsiTimeouts" \
        "${cmake_args[@]}" >"$out/consumer.log" 2>&1 || { cat "$out/consumer.log"; fail "consumer configure"; }
    cmake --build "$out/consumer" >>"$out/consumer.log" 2>&1 || { cat "$out/consumer.log"; fail "consumer build"; }
    grep -q "$root/$p/$libdir/libQrScsiTimeouts.so" "$out/consumer/CMakeFiles/consumer.dir/link.txt" ||
        fail "the consumer did not link the packaged library"
    run "$out/consumer/consumer" || fail "consumer against the $name packages"
    run "$root/$p/bin/scsi-timeouts" check >/dev/null || fail "packaged scsi-timeouts check ($name): $?"
    echo "$name packages ok:" "$out"/packages/*.deb
    check_rpms "$name" "$out" "$prefix" "$rpm_libdir/../Base64"
}

cmake_args=("$@")
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
check_layout usr "$build" /usr "$package_libdir" "$package_libdir/../Base64"

# The tarball is a plain install under one top directory.
if [[ $arch != - ]]; then
    tarball=$work/usr/packages/qrscsitimeouts-$version-$(uname -m).tar.gz
    [[ -f $tarball ]] || tarball=$(ls "$work"/usr/packages/qrscsitimeouts-"$version"-*.tar.gz)
    tar_files=$(tar -tzvf "$tarball" | awk '$1 !~ /^d/ {print $NF}' | sed 's|^[^/]*/||' | sort)
    plain_files=$(cd "$work/usr/plain" && find . -type f | sed 's|^\./||' | sort)
    [[ $tar_files == "$plain_files" ]] ||
        fail "the tarball is not laid out like a plain install: $(diff <(echo "$tar_files") <(echo "$plain_files"))"
fi

# The product tree: one configure option away. Not on cross builds: the layout differs only in
# paths, checked here on the native build, and a second cross build would double the time.
[[ $arch == - ]] && exit 0
opt_build=$work/opt-build
cmake -S "$project" -B "$opt_build" -DQR_PACKAGE_PREFIX=/opt/qr -DQR_BUILD_TESTS=OFF \
    -DQR_BUILD_EXAMPLES=OFF "$@" >"$opt_build.log" 2>&1 || { cat "$opt_build.log"; fail "configure /opt/qr"; }
cmake --build "$opt_build" --parallel 2 >>"$opt_build.log" 2>&1 || { tail -30 "$opt_build.log"; fail "build /opt/qr"; }
check_layout opt "$opt_build" /opt/qr lib Base64
