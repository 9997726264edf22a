# shellcheck shell=bash disable=SC2154  # the variables are check_package.sh's, which sources this
# Sourced by check_package.sh: the RPM packages of one build (cpack -G RPM), checked as the
# Debian packages are. check_rpms NAME OUT PREFIX BASE64 reads the rows of check_layout
# (packages, deb_files) and uses its helpers (fail, run) and arguments (rpm_arch, rpm_libdir, ...).

# What readelf -h says of each RPM architecture's ELF files: machine, then byte order.
declare -A rpm_elf=(
    [x86_64]="Advanced Micro Devices X86-64|little endian" [aarch64]="AArch64|little endian"
    [ppc64le]="PowerPC64|little endian" [ppc64]="PowerPC64|big endian")

check_rpms() {
    local name=$1 out=$2 prefix=$3 base64=$4 p=${3#/}
    local rpms=$out/packages release=1 row deb package rpm held expected mapped field
    local root=$out/rpm-root scratch=$out/rpm-installed all=() owned=""
    command -v rpmlint >/dev/null || fail "rpmlint is not installed"
    for row in "${packages[@]}"; do
        IFS='|' read -r deb package _ <<<"$row"
        rpm=$rpms/$package-$version-$release.$rpm_arch.rpm
        [[ -f $rpm ]] || fail "no package $rpm; there are: $(ls "$rpms")"
        all+=("$rpm")
        # One query: the fields, what it requires and provides, its files and their modes.
        local q
        q=$(rpm -qp --qf 'name %{NAME} %{VERSION}-%{RELEASE}\narch %{ARCH}\nlicense %{LICENSE}\npackager %{PACKAGER}\nvendor %{VENDOR}\ngroup %{GROUP}\nsummary %{SUMMARY}\nchangelog %{CHANGELOGNAME}\n[requires %{REQUIRENAME} %{REQUIREFLAGS:depflags} %{REQUIREVERSION}\n][provides %{PROVIDENAME}\n][file %{FILEMODES:perms} %{FILENAMES}\n]description %{DESCRIPTION}\n' "$rpm")
        val() { sed -n "s/^$1 //p" <<<"$q"; }
        # (1) The files of the matching .deb, with lib64 and the RPM's own doc folder, and
        # without Debian's lintian overrides.
        held=$(val file | awk '$1 !~ /^d/ {print $2}' | sed 's|^/||' | sort)
        mapped=$(sed "s|^$p/$rpm_libdir/|$p/$libdir/|; s|^usr/share/doc/$package/|usr/share/doc/$deb/|" <<<"$held" | sort)
        expected=$(grep -v '^usr/share/lintian/' <<<"${deb_files[$deb]}")
        [[ $mapped == "$expected" ]] || fail "$package.rpm ($name) holds: $(diff <(echo "$expected") <(echo "$mapped"))"
        owned+=$(val file | awk '$1 ~ /^d/ {print $2}')$'\n'

        [[ $(val name) == "$package $version-$release" ]] || fail "$package.rpm: name, version, release: $(val name)"
        for field in summary group vendor; do
            [[ -n $(val $field) && $(val $field) != '(none)' ]] || fail "$package.rpm: no $field"
        done
        # Packager "Name <mail>" and Vendor "Name", from the one maintainer setting.
        [[ $(val packager) == "$(val vendor) <"*@*">" ]] || fail "$package.rpm: packager $(val packager)"
        [[ $(val changelog) == "$(val packager) - $version-$release" ]] || fail "$package.rpm: changelog $(val changelog)"
        [[ $(val license) == Proprietary ]] || fail "$package.rpm: a licence it does not have: $(val license)"
        [[ $package == *-devel || $q == *'libQrLib.so, which the platform itself ships'* ]] ||
            fail "$package.rpm: the description does not say that the platform ships libQrLib.so"
        # (6) The target's architecture in the field (in the ELF files below).
        [[ $(val arch) == "$rpm_arch" ]] || fail "$package.rpm: architecture $(val arch)"

        # (2) The version tie, the library's SONAME, libc and libstdc++ found by rpm itself, and
        # nothing for the platform's libQrLib.so.
        local requires
        requires=$(val requires)
        grep -iq qrlib <<<"$requires" && fail "$package.rpm requires libQrLib.so: $requires"
        case $package in
        qrscsitimeouts)
            val provides | grep -qx 'libQrScsiTimeouts.so()\(([0-9]*bit)\)\?' ||
                fail "$package.rpm does not provide its SONAME: $(val provides)" ;;
        *) grep -qx "qrscsitimeouts = $version-$release" <<<"$requires" ||
            fail "$package.rpm does not require its own version of the library: $requires" ;;
        esac
        if [[ $package != qrscsitimeouts-devel ]] &&
            ! { grep -q '^libc\.so\.6' <<<"$requires" && grep -q '^libstdc++\.so\.6' <<<"$requires"; }; then
            fail "$package.rpm: no automatic requirements: $requires"
        fi
        # The library is executable, as RPM distributions want it.
        [[ $package != qrscsitimeouts || $(val file | awk '$2 ~ /libQrScsiTimeouts\.so$/ {print $1}') == -rwxr-xr-x ]] ||
            fail "the library's mode in $package.rpm ($name): $(val file)"
    done

    # ldconfig in %post and %postun of the library, under /usr only; no other scriptlet.
    local scripts expected_scripts=""
    scripts=$(rpm -qp --scripts "${all[@]}")
    [[ $prefix == /usr ]] && expected_scripts=$'postinstall program: /sbin/ldconfig\npostuninstall program: /sbin/ldconfig'
    [[ $scripts == "$expected_scripts" ]] || fail "scriptlets ($name): $scripts"

    # (5) rpmlint, with only the filters of packaging/*.rpmlintrc, none unused.
    rpmlint -r "$tree/packaging/qrscsitimeouts.rpmlintrc" "${all[@]}" >"$out/rpmlint.log" 2>&1 ||
        { cat "$out/rpmlint.log"; fail "rpmlint ($name)"; }
    grep -q ' 0 errors, 0 warnings' "$out/rpmlint.log" || { cat "$out/rpmlint.log"; fail "rpmlint ($name)"; }

    # (3) Unpacked into a scratch root beside a stand-in libQrLib.so: a caller built against
    # them, and the tool.
    local file
    for rpm in "${all[@]}"; do
        (mkdir -p "$root" && cd "$root" && rpm2cpio "$rpm" | cpio -idm --quiet) || fail "rpm2cpio $rpm"
    done
    local header
    for file in "$p/$rpm_libdir/libQrScsiTimeouts.so" "$p/bin/scsi-timeouts"; do
        header=$("$readelf" -h "$root/$file")
        [[ "$(sed -n 's/^ *Machine: *//p' <<<"$header")|$(sed -n 's/^ *Data: *.*, //p' <<<"$header")" == "${rpm_elf[$rpm_arch]}" ]] ||
            fail "$file in the $rpm_arch packages is for: $(grep -E 'Machine|Data' <<<"$header")"
    done
    mkdir -p "$root/$p/$base64"
    cp "$stand_in" "$root/$p/$base64/libQrLib.so"
    cmake -S "$source" -B "$out/rpm-consumer" -DQrScsiTimeouts_DIR="$root/$p/$rpm_libdir/cmake/QrScsiTimeouts" \
        "${cmake_args[@]}" >"$out/rpm-consumer.log" 2>&1 || { cat "$out/rpm-consumer.log"; fail "consumer configure (rpm)"; }
    cmake --build "$out/rpm-consumer" >>"$out/rpm-consumer.log" 2>&1 || { cat "$out/rpm-consumer.log"; fail "consumer build (rpm)"; }
    run "$out/rpm-consumer/consumer" || fail "consumer against the $name RPM packages"
    run "$root/$p/bin/scsi-timeouts" check >/dev/null || fail "scsi-timeouts check from the $name RPM packages: $?"

    # (4) Installed into a scratch root by rpm (of any architecture: this machine is not the
    # target on the cross legs), then removed: nothing of theirs is left.
    local db=(--root "$scratch" --dbpath /rpmdb)
    rpm "${db[@]}" --nodeps --noscripts --ignorearch -i "${all[@]}" >"$out/rpm-install.log" 2>&1 ||
        { cat "$out/rpm-install.log"; fail "rpm -i ($name)"; }
    [[ -x $scratch/$p/bin/scsi-timeouts && -f $scratch/$p/$rpm_libdir/libQrScsiTimeouts.so ]] ||
        fail "rpm -i ($name) installed: $(cd "$scratch" && find . -type f)"
    rpm "${db[@]}" --nodeps --noscripts -e qrscsitimeouts qrscsitimeouts-devel scsi-timeouts \
        >>"$out/rpm-install.log" 2>&1 || { cat "$out/rpm-install.log"; fail "rpm -e ($name)"; }
    local left
    left=$(cd "$scratch" && find . ! -type d ! -path './rpmdb/*')
    while read -r file; do
        [[ -n $file && -e $scratch/$file ]] && left+=$'\n'"$file"
    done <<<"$owned"
    [[ -z ${left//$'\n'/} ]] || fail "rpm -e ($name) left: $left"
    echo "$name RPM packages ok:" "${all[@]}"
}
