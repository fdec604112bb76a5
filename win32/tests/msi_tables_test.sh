#!/usr/bin/env bash
# packaging/msi_check.sh on the MSIs as msi.sh builds them (no Wine: their tables only): all pass,
# two builds of one commit are two products of one upgrade code, and a copy with one rule broken on
# purpose (msibuild on the tables) fails on that rule. The 64-bit tree makes the per-user and the
# all-users MSIs of both kinds, the 32-bit tree the x86 ones.
# usage: msi_tables_test.sh <packaging dir> <this tree's vbatessary.dll> <32-bit vbatessary.dll, or ->
set -u
packaging=$(cd "$1" && pwd)
own=$2
x86dll=$3
for tool in wixl msibuild msiinfo msiextract; do
  command -v $tool >/dev/null || { echo "skipped: $tool is not installed (Debian packages wixl, msitools)"; exit 77; }
done
status=0
ok() { printf '%s\n' "ok   $*"; }
bad() {
  printf '%s\n' "FAIL $*"
  status=1
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A 64-bit tree makes both MSIs (the x64 one with the 32-bit DLL beside its own), a 32-bit tree the
# x86 one; the first is built twice.
msi() { bash "$packaging/msi.sh" 1.00.7 "$1" "$work/$2" "${@:3}" || { echo "FAIL msi.sh $1 $2"; exit 1; }; }
if [ "$(od -An -tx2 -j$(($(od -An -tu4 -j60 -N4 "$own" | tr -d ' ') + 4)) -N2 "$own" | tr -d ' ')" = 8664 ]; then
  [ -f "$x86dll" ] || { echo "skipped: no 32-bit vbatessary.dll at $x86dll (build the win32 preset)"; exit 77; }
  kinds="x64 x86 allusers-x64 allusers-x86"
  msi x64 x64.msi "$x86dll" "$own"
  msi x64 again.msi "$x86dll" "$own"
  msi x86 x86.msi "$x86dll"
  msi allusers-x64 allusers-x64.msi "$x86dll" "$own"
  msi allusers-x86 allusers-x86.msi "$x86dll"
else
  kinds="x86 allusers-x86"
  msi x86 x86.msi "$own"
  msi x86 again.msi "$own"
  msi allusers-x86 allusers-x86.msi "$own"
fi
# A per-user package whose summary asks for elevation: built from a copy of its source that says
# perMachine, with the ALLUSERS that brings taken out again (msibuild cannot write Word Count).
mkdir -p "$work/tree"
cp -r "$packaging" "$work/tree/packaging"
ln -s "$packaging/../src" "$work/tree/src"
ln -s "$packaging/../win32" "$work/tree/win32"
sed -i 's/InstallScope="perUser"/InstallScope="perMachine"/' "$work/tree/packaging/wix/peruser.wxs"
# msi.sh checks what it builds, and this one breaks a rule on purpose: its own check is taken out.
sed -i 's|^bash "$here/msi_check.sh".*|true|' "$work/tree/packaging/msi.sh"
first_dll=$x86dll
[ "${kinds%% *}" = x86 ] && first_dll=$own
bash "$work/tree/packaging/msi.sh" 1.00.7 x86 "$work/elevated-x86.msi" "$first_dll" >/dev/null 2>&1 &&
  msibuild "$work/elevated-x86.msi" -q "DELETE FROM \`Property\` WHERE \`Property\` = 'ALLUSERS'" ||
  bad "could not build the per-user MSI that asks for elevation"
kinds="$kinds elevated-x86"
first=${kinds%% *}

for k in $kinds; do
  [ "$k" = elevated-x86 ] && continue
  out=$(bash "$packaging/msi_check.sh" "$work/$k.msi" 2>&1) && ok "$k MSI: every rule holds" || bad "$k MSI breaks a rule: $out"
done
code() { msiinfo export "$1" Property | awk -F'\t' -v p="$2" '$1 == p { print $2 }'; }
if [ "$(code "$work/$first.msi" ProductCode)" != "$(code "$work/again.msi" ProductCode)" ] &&
   [ "$(code "$work/$first.msi" UpgradeCode)" = "$(code "$work/again.msi" UpgradeCode)" ] &&
   [ "$(code "$work/$first.msi" ProductVersion)" = "$(code "$work/again.msi" ProductVersion)" ]; then
  ok "two builds of 1.00.7: product codes $(code "$work/$first.msi" ProductCode) and $(code "$work/again.msi" ProductCode), one upgrade code"
else
  bad "two builds of 1.00.7: product codes $(code "$work/$first.msi" ProductCode), $(code "$work/again.msi" ProductCode)"
fi

# The all-users package's classes are the per-user package's, value for value and view for view
# (the per-user ones are compared with what regsvr32 writes under Wine).
classes() {
  msiinfo export "$work/$1.msi" Component | awk -F'\t' 'NR > 3 { print $1 "\t" (int($4 / 256) % 2 ? 64 : 32) }' >"$work/bits"
  msiinfo export "$work/$1.msi" Registry | tr -d '\r' | awk -F'\t' 'NR == FNR { bits[$1] = $2; next }
    FNR > 3 && $3 ~ /^Software\\Classes\\/ { print bits[$6] "|" $3 "|" $4 "|" $5 }' "$work/bits" - | LC_ALL=C sort
}
for k in ${kinds%% *}; do
  peruser=$(classes "$k")
  if [ -n "$peruser" ] && [ "$(classes "allusers-$k")" = "$peruser" ]; then
    ok "allusers-$k: its classes are the $k package's ($(wc -l <<<"$peruser") values), in HKLM"
  else
    bad "allusers-$k: its classes differ from the $k package's:"
    diff <(echo "$peruser") <(classes "allusers-$k") | sed 's/^/  | /'
  fi
done

# <rule> <package> <what is broken> <SQL; SQL...>: the copy must fail on that rule.
while IFS='|' read -r rule kind what sql; do
  [ -n "$rule" ] || continue
  [[ " $kinds " == *" $kind "* ]] || continue
  cp "$work/$kind.msi" "$work/broken.msi"
  IFS=';' read -r -a queries <<<"$sql"
  for q in "${queries[@]}"; do
    msibuild "$work/broken.msi" -q "$q" >/dev/null 2>&1 || { bad "$rule: msibuild could not run: $q"; continue 2; }
  done
  out=$(bash "$packaging/msi_check.sh" "$work/broken.msi" 2>&1)
  if [ $? -ne 0 ] && grep -q "^broken.msi: $rule: " <<<"$out"; then
    ok "$rule, $kind, $what: fails ($(grep "^broken.msi: $rule: " <<<"$out" | head -1 | cut -d: -f3- | cut -c2-))"
  else
    bad "$rule, $kind, $what: not found; msi_check.sh said: ${out:-nothing}"
  fi
done <<'EOF'
upgrade|x64|the same version left out of the upgrade|DELETE FROM `Upgrade` WHERE `ActionProperty` = 'TESSARY_REPLACES';INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMax`, `Attributes`, `ActionProperty`) VALUES ('{6F1D5A0E-2C47-4B8E-9A53-7E0C4D2B9A61}', '1.0.7', 1, 'TESSARY_REPLACES')
upgrade|x86|no message for a later version|DELETE FROM `LaunchCondition` WHERE `Condition` = 'NOT TESSARY_NEWER_FOUND'
upgrade|x64|a version without build number|UPDATE `Property` SET `Value` = '1.0' WHERE `Property` = 'ProductVersion'
bitness|x86|no launch condition on VersionNT64|DELETE FROM `LaunchCondition` WHERE `Condition` = 'Installed OR NOT VersionNT64'
bitness|x64|the 32-bit DLL left out|DELETE FROM `File` WHERE `File` = 'Dllx86'
writer|x64|the ProgID written by a second component|INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Value`, `Component_`) VALUES ('regTwice', 1, 'Software\Classes\VBATessary.Connect', '', 'VBATessary.Connect', 'ProgramsFolder')
writer|x64|the shared values in the x64 component|UPDATE `Registry` SET `Component_` = 'Addinx64' WHERE `Component_` = 'Shared'
action|x64|no impersonation (type 2099)|UPDATE `CustomAction` SET `Type` = 2099 WHERE `Action` = 'SetReadme'
action|x86|sequenced after InstallFinalize|UPDATE `InstallExecuteSequence` SET `Sequence` = 6601 WHERE `Action` = 'SetInstallLocation'
names|x64|a file without short name|UPDATE `File` SET `FileName` = 'vbatessary.dll' WHERE `File` = 'Dllx64'
names|x86|a folder without short name|UPDATE `Directory` SET `DefaultDir` = 'vbaTessary' WHERE `Directory` = 'INSTALLDIR'
version|x64|no File.Version|UPDATE `File` SET `Version` = '' WHERE `File` = 'Dllx64'
version|x86|a hash for a versioned file|INSERT INTO `MsiFileHash` (`File_`, `Options`, `HashPart1`, `HashPart2`, `HashPart3`, `HashPart4`) VALUES ('Dllx86', 0, 1, 2, 3, 4)
arp|x64|no ARPPRODUCTICON|DELETE FROM `Property` WHERE `Property` = 'ARPPRODUCTICON'
arp|x86|no ARPINSTALLLOCATION|DELETE FROM `CustomAction` WHERE `Action` = 'SetInstallLocation'
arp|x64|no ARPREADME|DELETE FROM `CustomAction` WHERE `Action` = 'SetReadme'
scope|elevated-x86|elevation asked by a per-user package|
scope|x86|ALLUSERS in a per-user package|INSERT INTO `Property` (`Property`, `Value`) VALUES ('ALLUSERS', '1')
scope|allusers-x64|no ALLUSERS|DELETE FROM `Property` WHERE `Property` = 'ALLUSERS'
scope|allusers-x86|an HKCU row|INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Value`, `Component_`) VALUES ('regUser', 1, 'Software\vba Tessary', 'Folder', 'x', 'StartMenu')
scope|allusers-x64|an add-in record in HKLM|INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Value`, `Component_`) VALUES ('regRecord', 2, 'Software\Microsoft\VBA\VBE\6.0\Addins64\VBATessary.Connect', 'LoadBehavior', '#3', 'Machinex64')
folder|allusers-x64|the 64-bit component marked 32-bit|UPDATE `Component` SET `Attributes` = 0 WHERE `Component` = 'Machinex64'
folder|allusers-x86|the 32-bit component marked 64-bit|UPDATE `Component` SET `Attributes` = 256 WHERE `Component` = 'Machinex86'
setup|allusers-x64|no Active Setup Version|DELETE FROM `Registry` WHERE `Component_` = 'ActiveSetup' AND `Name` = 'Version'
setup|allusers-x86|a StubPath with a console|UPDATE `Registry` SET `Value` = '"[#Checkx86]" --enable-user' WHERE `Component_` = 'ActiveSetup' AND `Name` = 'StubPath'
setup|allusers-x64|the entry in the 32-bit view|UPDATE `Component` SET `Attributes` = 4 WHERE `Component` = 'ActiveSetup'
setup|allusers-x86|an earlier removal's entry kept|DELETE FROM `RemoveRegistry` WHERE `RemoveRegistry` = 'RemoveLeftRemoval'
action|allusers-x64|the removal action at every install|UPDATE `InstallExecuteSequence` SET `Condition` = '' WHERE `Action` = 'LeaveRemoval'
action|allusers-x86|the removal action after RemoveFiles|UPDATE `InstallExecuteSequence` SET `Sequence` = 3600 WHERE `Action` = 'LeaveRemoval'
EOF
exit $status
