#!/usr/bin/env bash
# The per-user MSI: no elevation, files under %LOCALAPPDATA%\Programs\vbaTessary\x86 and \x64 (each
# DLL with the vbatessary-check.exe built beside it), a Start-menu shortcut to the checker, and as
# registry rows exactly what each DLL's DllRegisterServer writes for its own bitness (class, ProgID,
# type library, interface, the editor's add-in record). The names and ids come from the add-in's
# identity header, the one place the DLL takes them from; win32/tests/msi_test.sh compares the rows
# with what regsvr32 writes, and msi_check.sh reads the tables as Windows Installer's rules want them.
# usage: msi.sh <version.build, as "1.00.57"> x64 <out.msi> <32-bit dll> <64-bit dll>
#        msi.sh <version.build> x86 <out.msi> <32-bit dll>
#        msi.sh <version.build> wxs-x64|wxs-x86 <out.wxs> ...   (the WiX source only, for checks)
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

[ $# -ge 4 ] || fail "usage: msi.sh <version.build> x64|x86 <out.msi> <32-bit dll> [<64-bit dll>]"
version=$1
kind=$2
out=$3
dll86=$4
dll64=${5:-}
wxsOnly=
case $kind in
wxs-*) wxsOnly=1; kind=${kind#wxs-} ;;
esac
case $kind in
x64) [ -n "$dll64" ] || fail "x64 needs the 64-bit DLL as well" ;;
x86) dll64= ;;
*) fail "unknown kind $kind (x64 or x86)" ;;
esac
for f in "$dll86" $dll64; do
  [ -f "$f" ] || fail "no DLL at $f"
  [ -f "$(dirname "$f")/vbatessary-check.exe" ] || fail "no vbatessary-check.exe beside $f"
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

# XML attribute text: markup characters and line ends as references.
xml() {
  local s=$1
  s=${s//&/&amp;}
  s=${s//</&lt;}
  s=${s//>/&gt;}
  s=${s//\"/&quot;}
  s=${s//$'\r'/&#13;}
  s=${s//$'\n'/&#10;}
  printf '%s' "$s"
}

# Every build is a product of its own: a new product code each time, so that a later build of the
# same version is a major upgrade (the Upgrade table takes in the same version) and never "another
# version of this product is already installed" (1638).
ProductCode="{$(tr a-f A-F </proc/sys/kernel/random/uuid)}"
# Fixed for the life of the product: the MSIs of every build upgrade each other through it. The
# x86 MSI does not install on 64-bit Windows, and the x64 one not on 32-bit, so the two never meet.
UpgradeCode='{6F1D5A0E-2C47-4B8E-9A53-7E0C4D2B9A61}'
# The bitness of the Windows the package is for: its checker is the shortcut's, its DLL's folder
# the type library's HELPDIR.
machine=$kind

# value <key> <name or ""> <type string|integer> <value> [keypath]
value() {
  local name=
  [ -n "$2" ] && name=" Name=\"$(xml "$2")\""
  local keyPath=
  [ -n "${5:-}" ] && keyPath=' KeyPath="yes"'
  printf '          <RegistryValue Root="HKCU" Key="%s"%s Type="%s" Value="%s"%s />\n' \
    "$(xml "$1")" "$name" "$3" "$(xml "$4")" "$keyPath"
}

c="Software\\Classes\\CLSID\\$Clsid" p="Software\\Classes\\$ProgId"
t="Software\\Classes\\TypeLib\\$LibId\\1.0" i="Software\\Classes\\Interface\\$Iid"

# The rows DllRegisterServer of one bitness writes in keys of its own registry view: its add-in
# list, its class (CLSID and Interface are redirected per view on 64-bit Windows) and its entry of
# the type library. Its own file and folder are given as MSI references.
rows() {
  local bits=$1 file=$2 list=Addins
  [ "$bits" = 64 ] && list=Addins64
  local a="$AddinsRoot\\$list\\$ProgId"
  value "$a" FriendlyName string "$FriendlyName" keypath
  value "$a" Description string "$Description"
  value "$a" LoadBehavior integer "$LoadBehavior"
  value "$c" "" string "$ProgId"
  value "$c\\InprocServer32" "" string "[#$file]"
  value "$c\\InprocServer32" ThreadingModel string Apartment
  value "$c\\ProgID" "" string "$ProgId"
  value "$c\\TypeLib" "" string "$LibId"
  value "$t\\0\\win$bits" "" string "[#$file]"
  value "$i" "" string "$Interface"
  value "$i\\ProxyStubClsid" "" string '{00020424-0000-0000-C000-000000000046}'
  value "$i\\ProxyStubClsid32" "" string '{00020424-0000-0000-C000-000000000046}'
  value "$i\\TypeLib" "" string "$LibId"
  value "$i\\TypeLib" Version string 1.0
}

# What both bitnesses' DllRegisterServer write to the same keys (the ProgID and the type library
# are shared by both views): one component of its own, so that no bitness's component takes away
# what the other still needs. The type library as RegisterTypeLibForUser enters it: FLAGS are the
# library's own flags as loaded from a file (LIBFLAG_FHASDISKIMAGE), HELPDIR the folder of the DLL
# registered last, the machine's own.
shared() {
  value "$p" "" string "$ProgId" keypath
  value "$p\\CLSID" "" string "$Clsid"
  value "$t" "" string "$HelpString"
  value "$t\\FLAGS" "" string 8
  value "$t\\HELPDIR" "" string "[Dir$machine]"
}

# half <x86|x64> <component guid>
half() {
  local h=$1 bits=32 win64=no
  [ "$h" = x64 ] && bits=64 win64=yes
  cat <<EOF
        <Directory Id="Dir$h" Name="$h">
          <Component Id="Addin$h" Guid="$2" Win64="$win64">
            <File Id="Dll$h" Name="VBATES~1.DLL|vbatessary.dll" Source="$h/vbatessary.dll" />
            <File Id="Check$h" Name="VBATES~1.EXE|vbatessary-check.exe" Source="$h/vbatessary-check.exe" />
$(rows $bits "Dll$h")
            <RemoveFolder Id="RemoveDir$h" On="uninstall" />
          </Component>
        </Directory>
EOF
}

win64=no
[ "$kind" = x64 ] && win64=yes
# Component ids differ between the packages where what they hold does.
if [ "$kind" = x64 ]; then
  sharedGuid='{2A7C4E19-93D5-4B61-8F0A-6C1E5D3B7A92}' menuGuid='{C4E81B3A-5F27-4D96-A0B3-8E2F61D7C945}'
else
  sharedGuid='{7D3B9F52-1E84-4C0A-B6D7-2F5A8C1E3B64}' menuGuid='{9B2E6D41-7A3C-4F85-8D19-5C0B3E7A2F16}'
fi

wxs() {
  cat <<EOF
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="$ProductCode" Name="vba Tessary" Language="1033" Version="$productVersion"
           Manufacturer="vba Tessary project" UpgradeCode="$UpgradeCode">
    <Package InstallerVersion="500" Compressed="yes" InstallScope="perUser"
             Description="vba Tessary $version ($kind), an add-in for the VBA editor of Office"
             Comments="Per-user installation; no administrator rights needed." />
    <!-- Every earlier build, of the same version too, is replaced; a later one stops the install. -->
    <Upgrade Id="$UpgradeCode">
      <UpgradeVersion Minimum="0.0.0" IncludeMinimum="yes" Maximum="$productVersion" IncludeMaximum="yes" Property="TESSARY_REPLACES" />
      <UpgradeVersion Minimum="$productVersion" IncludeMinimum="no" OnlyDetect="yes" Property="TESSARY_NEWER_FOUND" />
    </Upgrade>
    <Condition Message="A newer version of vba Tessary is already installed. Remove it first (Settings &gt; Apps) to install this one.">NOT TESSARY_NEWER_FOUND</Condition>
EOF
  [ "$kind" = x86 ] && cat <<EOF
    <Condition Message="This is the installer for 32-bit Windows. On 64-bit Windows install vbatessary-$version-x64.msi: it holds the add-in for both 32- and 64-bit Office.">Installed OR NOT VersionNT64</Condition>
EOF
  cat <<EOF
    <Media Id="1" Cabinet="vbatessary.cab" EmbedCab="yes" />
    <Icon Id="vbatessary.ico" SourceFile="vbatessary.ico" />
    <!-- Apps & Features: the README installed beside the DLLs, the folder, the icon. Formatted
         values need set-property actions; they run as the user, after CostFinalize has resolved
         INSTALLDIR and before RegisterProduct writes them. -->
    <CustomAction Id="SetReadme" Property="ARPREADME" Value="[INSTALLDIR]README.txt" Execute="immediate" Impersonate="yes" />
    <CustomAction Id="SetInstallLocation" Property="ARPINSTALLLOCATION" Value="[INSTALLDIR]" Execute="immediate" Impersonate="yes" />
    <InstallExecuteSequence>
      <Custom Action="SetReadme" Sequence="1010" />
      <Custom Action="SetInstallLocation" Sequence="1020" />
      <RemoveExistingProducts After="InstallValidate" />
    </InstallExecuteSequence>
    <Property Id="ARPPRODUCTICON" Value="vbatessary.ico" />
    <Property Id="ARPCOMMENTS" Value="$(xml "$FriendlyName"): one-click commands for the VBA editor of Excel, Word, Access and PowerPoint" />
    <Property Id="ARPNOMODIFY" Value="1" />
    <Property Id="ARPNOREPAIR" Value="1" />
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="LocalAppDataFolder">
        <Directory Id="DirPrograms" Name="Programs">
          <Component Id="ProgramsFolder" Guid="{5D2C8E91-6A4B-4F3E-B7D0-1E9F2A6C3B58}">
            <RegistryValue Root="HKCU" Key="Software\\vba Tessary" Name="ProgramsFolder" Type="string" Value="[DirPrograms]" KeyPath="yes" />
            <RemoveFolder Id="RemovePrograms" On="uninstall" />
          </Component>
          <Directory Id="INSTALLDIR" Name="VBATES~1|vbaTessary">
            <Component Id="Folders" Guid="{0B7E2D64-1F3A-4E59-8C21-5A9D3E6F7B40}">
              <RegistryValue Root="HKCU" Key="Software\\vba Tessary" Name="InstallFolder" Type="string" Value="[INSTALLDIR]" KeyPath="yes" />
              <File Id="Readme" Name="README.txt" Source="README.txt" />
              <RemoveFolder Id="RemoveInstallDir" On="uninstall" />
            </Component>
            <Component Id="Shared" Guid="$sharedGuid" Win64="$win64">
$(shared)
            </Component>
$(half x86 '{3C9A61E2-7B4D-4F08-A5E3-2D6B18C4F95A}')
EOF
  [ -n "$dll64" ] && half x64 '{8E4F27B9-5D31-4C6A-B0E8-91A73F2C5D16}'
  cat <<EOF
          </Directory>
        </Directory>
      </Directory>
      <Directory Id="ProgramMenuFolder">
        <!-- The checker of the machine's bitness, waiting for a key before its window closes. -->
        <Component Id="StartMenu" Guid="$menuGuid" Win64="$win64">
          <RegistryValue Root="HKCU" Key="Software\\vba Tessary" Name="StartMenu" Type="string" Value="[ProgramMenuFolder]" KeyPath="yes" />
          <Shortcut Id="CheckShortcut" Name="CHECKV~1|Check vba Tessary" Description="Why vba Tessary does or does not load in the VBA editor"
                    Target="[#Check$machine]" Arguments="--pause" WorkingDirectory="Dir$machine" Icon="vbatessary.ico" Advertise="no" />
        </Component>
      </Directory>
    </Directory>
    <Feature Id="Addin" Title="vba Tessary" Level="1">
      <ComponentRef Id="ProgramsFolder" />
      <ComponentRef Id="Folders" />
      <ComponentRef Id="Shared" />
      <ComponentRef Id="Addinx86" />
EOF
  [ -n "$dll64" ] && echo '      <ComponentRef Id="Addinx64" />'
  cat <<EOF
      <ComponentRef Id="StartMenu" />
    </Feature>
  </Product>
</Wix>
EOF
}

if [ -n "$wxsOnly" ]; then
  wxs >"$out"
  exit 0
fi
command -v wixl >/dev/null || fail "wixl is not installed (Debian package wixl)"
command -v msibuild >/dev/null || fail "msibuild is not installed (Debian package msitools)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# wixl takes sources relative to the WiX source: the files are staged beside it.
mkdir "$work/x86" "$work/x64"
cp "$here/README.txt" "$work/README.txt"
bash "$here/icon.sh" "$work/vbatessary.ico"
for h in x86:"$dll86" x64:"$dll64"; do
  [ -n "${h#*:}" ] || continue
  cp "${h#*:}" "$work/${h%%:*}/vbatessary.dll"
  cp "$(dirname "${h#*:}")/vbatessary-check.exe" "$work/${h%%:*}/vbatessary-check.exe"
done
wxs >"$work/vbatessary.wxs"
(cd "$work" && wixl -a "$kind" -o out.msi vbatessary.wxs 2>wixl.err) || {
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
  case $(basename "$f") in vbatessary.dll) id=Dll$h ;; vbatessary-check.exe) id=Check$h ;; *) continue ;; esac
  msibuild "$work/out.msi" -q "UPDATE \`File\` SET \`Version\` = '$fv', \`Language\` = '$lang' WHERE \`File\` = '$id'" &&
    msibuild "$work/out.msi" -q "DELETE FROM \`MsiFileHash\` WHERE \`File_\` = '$id'" || fail "msibuild could not set the version of $id"
done
bash "$here/msi_check.sh" "$work/out.msi" >&2 || fail "the package breaks the rules msi_check.sh checks"
mv "$work/out.msi" "$out"
