#!/usr/bin/env bash
# Builds the MSIs from the WiX sources in wix/ with wixl, then sets with msibuild what wixl 0.101
# cannot write. Per user (peruser.wxs): no elevation, files under %LOCALAPPDATA%\Programs\vbaTessary,
# as HKCU rows exactly what each DLL's DllRegisterServer writes. For all users (permachine.wxs):
# files under Program Files, the classes in HKLM, each user's record written by Active Setup. The
# names and ids come from the add-in's identity header, the one place the DLL takes them from, and
# reach the sources as wixl variables; win32/tests/msi_test.sh compares the rows with what regsvr32
# writes, and msi_check.sh reads the tables as Windows Installer's rules want them.
# usage: msi.sh <version.build, as "1.00.57"> x64 <out.msi> <32-bit dll> <64-bit dll>
#        msi.sh <version.build> x86 <out.msi> <32-bit dll>
#        msi.sh <version.build> allusers-x64|allusers-x86 <out.msi> <dlls as above>
#        msi.sh file-version <PE file>   (its version resource's file version and language, if any)
set -euo pipefail
shopt -u patsub_replacement 2>/dev/null || true  # "&" in a replacement is itself
here=$(cd "$(dirname "$0")" && pwd)
identity=$here/../src/addin/identity.h
idl=$here/../win32/vbatessary.idl

fail() {
  echo "msi.sh: $*" >&2
  exit 1
}

# The FILEVERSION of a PE file's VS_FIXEDFILEINFO (found by its signature) as "a.b.c.d", and the
# language of its translation ("1033"); nothing for a file without a version resource.
file_version() {
  local at words lang
  at=$(LC_ALL=C grep -obUaP '\xbd\x04\xef\xfe' "$1" | head -1 | cut -d: -f1)
  [ -n "$at" ] || return 0
  read -r -a words <<<"$(od -An -tu2 -j$((at + 8)) -N8 "$1")"
  # "Translation" in UTF-16, its value 26 bytes on (key, terminator, padding): language, code page.
  at=$(LC_ALL=C grep -obUaP 'T\x00r\x00a\x00n\x00s\x00l\x00a\x00t\x00i\x00o\x00n\x00' "$1" | head -1 | cut -d: -f1)
  lang=0
  [ -n "$at" ] && lang=$(od -An -tu2 -j$((at + 26)) -N2 "$1" | tr -d ' ')
  echo "${words[1]}.${words[0]}.${words[3]}.${words[2]} $lang"
}
if [ "${1:-}" = file-version ]; then
  [ $# -eq 2 ] && [ -f "$2" ] || fail "usage: msi.sh file-version <PE file>"
  file_version "$2"
  exit 0
fi

[ $# -ge 4 ] || fail "usage: msi.sh <version.build> [allusers-]x64|x86 <out.msi> <32-bit dll> [<64-bit dll>]"
version=$1
kind=$2
out=$3
dll86=$4
dll64=${5:-}
allUsers=
case $kind in
allusers-*) allUsers=1; kind=${kind#allusers-} ;;
esac
case $kind in
x64) [ -n "$dll64" ] || fail "x64 needs the 64-bit DLL as well" ;;
x86) dll64= ;;
*) fail "unknown kind $kind (x64, x86, allusers-x64 or allusers-x86)" ;;
esac
# Beside each DLL the checker, and for all users its windowless twin, which Active Setup runs.
programs=(vbatessary-check.exe)
[ -n "$allUsers" ] && programs+=(vbatessary-checkw.exe)
for f in "$dll86" $dll64; do
  [ -f "$f" ] || fail "no DLL at $f"
  for p in "${programs[@]}"; do [ -f "$(dirname "$f")/$p" ] || fail "no $p beside $f"; done
done

# "1.00.57" is product version 1.0.57: Windows Installer compares the first three fields, so the
# build number is the third (at most 65535) and every build is later than the one before it.
[[ $version =~ ^([0-9]+)\.([0-9]+)\.([0-9]+)$ ]] || fail "version \"$version\" is not <major>.<minor>.<build>"
productVersion=$((10#${BASH_REMATCH[1]})).$((10#${BASH_REMATCH[2]})).$((10#${BASH_REMATCH[3]}))
[ $((10#${BASH_REMATCH[3]})) -le 65535 ] || fail "build number ${BASH_REMATCH[3]} is above 65535"

# One constant of the identity header, as the C++ compiler reads it: adjacent literals joined,
# \\ \r \n and \" unescaped.
constant() {
  local text
  text=$(awk -v name="$1" '
    $0 ~ "constexpr [a-z ]*[*]? *" name " *=" { on = 1 }
    on { buf = buf $0 "\n"; if ($0 ~ /;[ \t]*(\/\/.*)?$/) exit }
    END { printf "%s", buf }' "$identity")
  [ -n "$text" ] || fail "$1 is not in $identity"
  if [[ $text == *'"'* ]]; then
    printf '%s' "$text" | sed -n 's/^[^"]*"\(.*\)"[^"]*$/\1/p' | tr -d '\n' |
      sed -e 's/""[^"]*"//g' -e 's/" *"//g' | sed -e 's/\\\\/\x01/g' -e 's/\\r/\r/g' -e 's/\\n/\n/g' -e 's/\\"/"/g' -e 's/\x01/\\/g'
  else
    printf '%s' "$text" | sed -n 's/.*= *\([0-9][0-9]*\).*/\1/p' | head -1
  fi
}
ProgId=$(constant ProgId)
Clsid=$(constant ConnectClsid)
LibId=$(constant LibId)
Iid=$(constant ConnectIid)
FriendlyName=$(constant FriendlyName)
Description=$(constant Description)
LoadBehavior=$(constant LoadBehavior)
HelpString=$(constant LibraryHelpString)
AddinsRoot=$(constant AddinsRoot)
# The type library's default interface, as the IDL names it.
Interface=$(sed -n 's/^ *interface \(_[A-Za-z]*\) *: *IDispatch.*/\1/p' "$idl" | head -1)
for v in ProgId Clsid LibId Iid FriendlyName Description LoadBehavior HelpString AddinsRoot Interface; do
  [ -n "${!v}" ] || fail "no $v"
done

# Every build is a product of its own: a new product code each time, so that a later build of the
# same version is a major upgrade (the Upgrade table takes in the same version) and never "another
# version of this product is already installed" (1638).
ProductCode="{$(tr a-f A-F </proc/sys/kernel/random/uuid)}"
# Fixed for the life of the product: the MSIs of every build upgrade each other through it. The
# x86 MSI does not install on 64-bit Windows, and the x64 one not on 32-bit, so the two never meet.
# The packages for all users have an upgrade code of their own: the two kinds never replace each
# other (one user's installation is not an administrator's to take away).
if [ -n "$allUsers" ]; then
  UpgradeCode=$(constant AllUsersUpgradeCode)
else
  UpgradeCode=$(constant PerUserUpgradeCode)
fi
# Active Setup: the entry that writes each user's record, and the one removal leaves behind. Its
# Version is the product version with commas, so it rises with every build.
ActiveSetupId=$(constant ActiveSetupId)
RemovalSetupId=$(constant RemovalSetupId)
ActiveSetupVersion=${productVersion//./,}
command -v wixl >/dev/null || fail "wixl is not installed (Debian package wixl)"
command -v msibuild >/dev/null || fail "msibuild is not installed (Debian package msitools)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# wixl takes sources and includes relative to the WiX source: all of it is staged together.
mkdir "$work/x86" "$work/x64"
cp "$here/README.txt" "$work/README.txt"
cp "$here"/wix/*.wxs "$here"/wix/*.wxi "$work/"
bash "$here/icon.sh" "$work/vbatessary.ico"
for h in x86:"$dll86" x64:"$dll64"; do
  [ -n "${h#*:}" ] || continue
  cp "${h#*:}" "$work/${h%%:*}/vbatessary.dll"
  for p in "${programs[@]}"; do cp "$(dirname "${h#*:}")/$p" "$work/${h%%:*}/$p"; done
done
source=peruser.wxs
[ -n "$allUsers" ] && source=permachine.wxs
defines=()
for v in Kind ProductCode UpgradeCode ProductVersion Version ProgId Clsid LibId Iid Interface FriendlyName Description \
  LoadBehavior HelpString AddinsRoot ActiveSetupId ActiveSetupVersion; do
  case $v in
  Kind) defines+=(-D "Kind=$kind") ;;
  Version) defines+=(-D "Version=$version") ;;
  ProductVersion) defines+=(-D "ProductVersion=$productVersion") ;;
  *) defines+=(-D "$v=${!v}") ;;
  esac
done
# The 32-bit package names the x64 one of its kind for 64-bit Windows.
defines+=(-D "X64Msi=vbatessary-$version-${allUsers:+allusers-}x64.msi")
(cd "$work" && wixl -a "$kind" "${defines[@]}" -o out.msi "$source" 2>wixl.err) || {
  cat "$work/wixl.err" >&2
  fail "wixl failed"
}
# wixl says "unimplemented" of every shortcut that is not advertised, and writes it all the same.
grep -v -e "is not a known attribute" -e "unimplemented" -e "^$" "$work/wixl.err" >&2 || true

# What wixl 0.101 cannot write is set with msibuild. The Upgrade row that replaces earlier builds
# takes in its own version (wixl ignores IncludeMaximum), has no lower bound and carries the
# feature states over.
# (Attributes is part of the table's key: the row is replaced, not updated.)
msibuild "$work/out.msi" -q "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'TESSARY_REPLACES'" &&
  msibuild "$work/out.msi" -q "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`) VALUES ('$UpgradeCode', '$productVersion', 769, 'TESSARY_REPLACES')" ||
  fail "msibuild could not write the Upgrade row"
# A File row's Version and Language (wixl has no DefaultVersion): Windows Installer then compares
# the file by version instead of by hash, and a versioned file has no row in MsiFileHash.
for f in "$work"/x86/* "$work"/x64/*; do
  [ -f "$f" ] || continue
  read -r fv lang <<<"$(file_version "$f")"
  [ -n "${fv:-}" ] || continue
  h=$(basename "$(dirname "$f")")
  case $(basename "$f") in
  vbatessary.dll) id=Dll$h ;;
  vbatessary-check.exe) id=Check$h ;;
  vbatessary-checkw.exe) id=Checkw$h ;;
  *) continue ;;
  esac
  msibuild "$work/out.msi" -q "UPDATE \`File\` SET \`Version\` = '$fv', \`Language\` = '$lang' WHERE \`File\` = '$id'" &&
    msibuild "$work/out.msi" -q "DELETE FROM \`MsiFileHash\` WHERE \`File_\` = '$id'" || fail "msibuild could not set the version of $id"
done
# For all users: installing takes away the entry an earlier removal left behind, which would
# otherwise delete each user's record again (wixl 0.101 has no RemoveRegistryKey).
if [ -n "$allUsers" ]; then
  msibuild "$work/out.msi" -q "CREATE TABLE \`RemoveRegistry\` (\`RemoveRegistry\` CHAR(72) NOT NULL, \`Root\` SHORT NOT NULL, \`Key\` CHAR(255) NOT NULL LOCALIZABLE, \`Name\` CHAR(255) LOCALIZABLE, \`Component_\` CHAR(72) NOT NULL PRIMARY KEY \`RemoveRegistry\`)" &&
    msibuild "$work/out.msi" -q "INSERT INTO \`RemoveRegistry\` (\`RemoveRegistry\`, \`Root\`, \`Key\`, \`Name\`, \`Component_\`) VALUES ('RemoveLeftRemoval', 2, 'SOFTWARE\\Microsoft\\Active Setup\\Installed Components\\$RemovalSetupId', '-', 'ActiveSetup')" ||
    fail "msibuild could not write the RemoveRegistry row"
fi
bash "$here/msi_check.sh" "$work/out.msi" >&2 || fail "the package breaks the rules msi_check.sh checks"
mv "$work/out.msi" "$out"
