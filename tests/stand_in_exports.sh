#!/usr/bin/env bash
# The stand-in libQrLib.so exports QrPlatformInfo's members and the test controls, and nothing
# else: no piece of its insides or of the standard library for a program to bind to by chance.
#   stand_in_exports.sh LIB NM
set -euo pipefail
lib=$1 nm=$2
controls=(reset seed value calls constructions liveObjects failConstruction failStoreCall
          onConstruction holdSave reportCopiedSize omitNulWhenCut omitNulWhenShort foundReturns
          dropWrites)
members=('QrPlatformInfo::QrPlatformInfo()' 'QrPlatformInfo::~QrPlatformInfo()'
         'QrPlatformInfo::getString(' 'QrPlatformInfo::setString(')

exported=$("$nm" -D --defined-only -C "$lib" | cut -d' ' -f3-)
allowed="^(QrPlatformInfo::|qrlib_stand_in::($(IFS='|'; echo "${controls[*]}"))\()"
others=$(grep -Ev "$allowed" <<<"$exported" || true)
[[ -z $others ]] || { echo "FAIL: $lib also exports:"; echo "$others"; exit 1; }
for name in "${members[@]}" "${controls[@]/#/qrlib_stand_in::}"; do
    [[ $name == *'('* ]] || name+='('
    grep -qF "$name" <<<"$exported" || { echo "FAIL: $lib does not export $name"; exit 1; }
done
echo "$lib exports QrPlatformInfo and ${#controls[@]} controls, nothing else"
