#!/usr/bin/env bash
# The per-user MSI: no elevation, files under %LOCALAPPDATA%\Programs\vbaTessary\x86 and \x64, and
# as registry rows exactly what each DLL's DllRegisterServer writes for its own bitness (class,
# ProgID, type library, interface, the editor's add-in record). The names and ids come from the
# add-in's identity header, the one place the DLL takes them from; win32/tests/msi_test.sh compares
# the rows with what regsvr32 writes.
# usage: msi.sh <version, as "1.00"> x64 <out.msi> <32-bit vbatessary.dll> <64-bit vbatessary.dll>
#        msi.sh <version> x86 <out.msi> <32-bit vbatessary.dll>
#        msi.sh <version> wxs-x64|wxs-x86 <out.wxs> ...   (the WiX source only, for checks)
set -euo pipefail
shopt -u patsub_replacement 2>/dev/null || true  # "&" in a replacement is itself
here=$(cd "$(dirname "$0")" && pwd)
identity=$here/../src/addin/identity.h
idl=$here/../win32/vbatessary.idl

fail() {
  echo "msi.sh: $*" >&2
  exit 1
}
[ $# -ge 4 ] || fail "usage: msi.sh <version> x64|x86 <out.msi> <32-bit dll> [<64-bit dll>]"
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
for f in "$dll86" $dll64; do [ -f "$f" ] || fail "no DLL at $f"; done

# "1.00" is product version 1.0.0, "1.01" 1.1.0: Windows Installer compares the first three fields.
[[ $version =~ ^([0-9]+)\.([0-9]+)$ ]] || fail "version \"$version\" is not <major>.<minor>"
productVersion=$((10#${BASH_REMATCH[1]})).$((10#${BASH_REMATCH[2]})).0

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

# A product code per version and package, the same on every build of it (a name-based GUID), so
# that a rebuilt MSI is the same product.
guidFrom() {
  local h
  h=$(printf '%s' "$1" | sha1sum | cut -c1-32)
  printf '{%s-%s-5%s-%x%s-%s}' "${h:0:8}" "${h:8:4}" "${h:13:3}" $(((16#${h:16:1} & 3) | 8)) "${h:17:3}" "${h:20:12}" |
    tr a-f A-F
}

# Fixed for the life of the product: the MSIs of every version upgrade each other through it.
UpgradeCode='{6F1D5A0E-2C47-4B8E-9A53-7E0C4D2B9A61}'
ProductCode=$(guidFrom "vbatessary-$version-$kind")

# value <key> <name or ""> <type string|integer> <value> [keypath]
value() {
  local name=
  [ -n "$2" ] && name=" Name=\"$(xml "$2")\""
  local keyPath=
  [ -n "${5:-}" ] && keyPath=' KeyPath="yes"'
  printf '          <RegistryValue Root="HKCU" Key="%s"%s Type="%s" Value="%s"%s />\n' \
    "$(xml "$1")" "$name" "$3" "$(xml "$4")" "$keyPath"
}

# The rows DllRegisterServer of one bitness writes, its own file and folder given as MSI references.
rows() {
  local bits=$1 file=$2 dir=$3 list=Addins
  [ "$bits" = 64 ] && list=Addins64
  local c="Software\\Classes\\CLSID\\$Clsid" p="Software\\Classes\\$ProgId"
  local t="Software\\Classes\\TypeLib\\$LibId\\1.0" i="Software\\Classes\\Interface\\$Iid"
  local a="$AddinsRoot\\$list\\$ProgId"
  value "$a" FriendlyName string "$FriendlyName" keypath
  value "$a" Description string "$Description"
  value "$a" LoadBehavior integer "$LoadBehavior"
  value "$c" "" string "$ProgId"
  value "$c\\InprocServer32" "" string "[#$file]"
  value "$c\\InprocServer32" ThreadingModel string Apartment
  value "$c\\ProgID" "" string "$ProgId"
  value "$c\\TypeLib" "" string "$LibId"
  value "$p" "" string "$ProgId"
  value "$p\\CLSID" "" string "$Clsid"
  # The type library as RegisterTypeLibForUser enters it: FLAGS are the library's own flags as
  # loaded from a file (LIBFLAG_FHASDISKIMAGE), HELPDIR its folder.
  value "$t" "" string "$HelpString"
  value "$t\\0\\win$bits" "" string "[#$file]"
  value "$t\\FLAGS" "" string 8
  value "$t\\HELPDIR" "" string "[$dir]"
  value "$i" "" string "$Interface"
  value "$i\\ProxyStubClsid" "" string '{00020424-0000-0000-C000-000000000046}'
  value "$i\\ProxyStubClsid32" "" string '{00020424-0000-0000-C000-000000000046}'
  value "$i\\TypeLib" "" string "$LibId"
  value "$i\\TypeLib" Version string 1.0
}

# half <x86|x64> <dll> <component guid>
half() {
  local h=$1 bits=32 win64=no
  [ "$h" = x64 ] && bits=64 win64=yes
  cat <<EOF
        <Directory Id="Dir$h" Name="$h">
          <Component Id="Addin$h" Guid="$3" Win64="$win64">
            <File Id="Dll$h" Name="vbatessary.dll" Source="$h/vbatessary.dll" />
$(rows $bits "Dll$h" "Dir$h")
            <RemoveFolder Id="RemoveDir$h" On="uninstall" />
          </Component>
        </Directory>
EOF
}

wxs() {
  cat <<EOF
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="$ProductCode" Name="vba Tessary" Language="1033" Version="$productVersion"
           Manufacturer="vba Tessary project" UpgradeCode="$UpgradeCode">
    <Package InstallerVersion="500" Compressed="yes" InstallScope="perUser"
             Description="vba Tessary $version ($kind), an add-in for the VBA editor of Office"
             Comments="Per-user installation; no administrator rights needed." />
    <MajorUpgrade DowngradeErrorMessage="A newer version of vba Tessary is already installed. Remove it first (Settings &gt; Apps) to install this one." />
    <Media Id="1" Cabinet="vbatessary.cab" EmbedCab="yes" />
    <!-- Apps & Features links to the README installed beside the DLLs. -->
    <CustomAction Id="HelpLinkToReadme" Property="ARPHELPLINK" Value="[INSTALLDIR]README.txt" Execute="immediate" />
    <InstallExecuteSequence>
      <Custom Action="HelpLinkToReadme" After="CostFinalize" />
    </InstallExecuteSequence>
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
          <Directory Id="INSTALLDIR" Name="vbaTessary">
            <Component Id="Folders" Guid="{0B7E2D64-1F3A-4E59-8C21-5A9D3E6F7B40}">
              <RegistryValue Root="HKCU" Key="Software\\vba Tessary" Name="InstallFolder" Type="string" Value="[INSTALLDIR]" KeyPath="yes" />
              <File Id="Readme" Name="README.txt" Source="README.txt" />
              <RemoveFolder Id="RemoveInstallDir" On="uninstall" />
            </Component>
$(half x86 "$dll86" '{3C9A61E2-7B4D-4F08-A5E3-2D6B18C4F95A}')
EOF
  [ -n "$dll64" ] && half x64 "$dll64" '{8E4F27B9-5D31-4C6A-B0E8-91A73F2C5D16}'
  cat <<EOF
          </Directory>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Addin" Title="vba Tessary" Level="1">
      <ComponentRef Id="ProgramsFolder" />
      <ComponentRef Id="Folders" />
      <ComponentRef Id="Addinx86" />
EOF
  [ -n "$dll64" ] && echo '      <ComponentRef Id="Addinx64" />'
  cat <<EOF
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
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# wixl takes sources relative to the WiX source: the files are staged beside it.
mkdir "$work/x86" "$work/x64"
cp "$here/README.txt" "$work/README.txt"
cp "$dll86" "$work/x86/vbatessary.dll"
[ -n "$dll64" ] && cp "$dll64" "$work/x64/vbatessary.dll"
wxs >"$work/vbatessary.wxs"
arch=x86
[ "$kind" = x64 ] && arch=x64
(cd "$work" && wixl -a "$arch" -o out.msi vbatessary.wxs 2>wixl.err) || {
  cat "$work/wixl.err" >&2
  fail "wixl failed"
}
grep -v "is not a known attribute\|^$" "$work/wixl.err" >&2 || true
mv "$work/out.msi" "$out"
