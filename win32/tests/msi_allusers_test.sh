#!/usr/bin/env bash
# The all-users MSI under Wine's msiexec, as IT deploys it: a silent install that writes the
# machine's keys and nothing of the user's, the Active Setup command run as a user's logon runs it
# (Wine runs no Active Setup itself), the add-in created through COM from Program Files, the
# checker, an upgrade, the removal and the entry it leaves for each user's next logon, and both
# kinds of installation on one machine in either order.
# usage: msi_allusers_test.sh <wine prefix> <packaging dir> <this tree's vbatessary.dll>
#                             <32-bit vbatessary.dll, for a 64-bit prefix; else -> <version.h>
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/wine-common.sh"
wine_use "$1"
packaging=$(cd "$2" && pwd)
own=$3
x86dll=$4
version=$(sed -n 's/^#define TESSARY_VERSION_TEXT "\(.*\)"$/\1/p' "$5")
for tool in wixl msibuild msiinfo; do
  command -v $tool >/dev/null || { echo "skipped: $tool is not installed (Debian packages wixl, msitools)"; exit 77; }
done
[ -n "$version" ] || { echo "FAIL no version in $5"; exit 1; }
. "$here/release_common.sh"

setup='SOFTWARE\Microsoft\Active Setup\Installed Components'
setupId='{9C3E5A71-2B84-4D6F-A1E9-5F7B3C2D8E40}'
removalId='{9C3E5A71-2B84-4D6F-A1E9-5F7B3C2D8E41}'
root=$WINEPREFIX/drive_c/tessary-allusers
winroot='C:\tessary-allusers'
work=$(mktemp -d)

if [ "$arch" = win64 ]; then
  kind=x64
  [ -f "$x86dll" ] || { echo "skipped: no 32-bit vbatessary.dll at $x86dll (build the win32 preset)"; exit 77; }
  dlls=("$x86dll" "$own")
  halves=x64
  runs_32bit_here && halves="x86 x64"
else
  kind=x86
  dlls=("$own")
  halves=x86
fi
# Each half's folder and registry view: 64-bit Windows keeps the 32-bit DLL under Program Files (x86).
{ read -r pf; read -r pf86; read -r menu; read -r appdata; } <<<"$("$wine" cmd /c 'echo %ProgramFiles%&echo %ProgramFiles(x86)%&echo %ProgramData%&echo %APPDATA%' </dev/null 2>/dev/null | tr -d '\r')"
# Windows resolves ProgramMenuFolder of a per-machine package to the Start menu of all users;
# Wine's msiexec to the installing user's.
menu="$menu\\Microsoft\\Windows\\Start Menu\\Programs"
userMenu="$appdata\\Microsoft\\Windows\\Start Menu\\Programs"

folder_of() { if [ "$1" = x86 ] && [ "$kind" = x64 ]; then echo "$pf86\\vba Tessary"; else echo "$pf\\vba Tessary"; fi; }
view_of() { [ "$kind" = x64 ] && { [ "$1" = x86 ] && echo /reg:32 || echo /reg:64; }; }
unix() { "$wine" winepath -u "$1" </dev/null 2>/dev/null; }
run() { "$wine" "$@" </dev/null 2>&1 | tr -d '\r'; }
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"

# The add-in's values in HKCU (keys naming its ids, its settings, its records, its Active Setup
# markers) and in HKLM (its classes in each view, its Active Setup entries, its folder key).
ours() {
  IDS="$clsid|$progid|$libid|$iid|$setupId|$removalId|\\VBA\\VBE\\|\\vba Tessary" awk '
    BEGIN { n = split(ENVIRON["IDS"], id, "|") }
    /^\[/ { key = substr($0, 2, length($0) - 2); mine = 0; for (i = 1; i <= n; i++) if (index(key, id[i])) mine = 1; next }
    /^(@|")/ && mine { print key "|" $0 }' | LC_ALL=C sort -u
}
user() { export_key "HKCU\\Software" "" | ours; }
machine() {
  for v in $( [ "$kind" = x64 ] && echo /reg:32 /reg:64 || echo -); do
    [ "$v" = - ] && v=
    for key in "Classes\\CLSID\\$clsid" "Classes\\$progid" "Classes\\TypeLib\\$libid" "Classes\\Interface\\$iid" \
      "Microsoft\\Active Setup\\Installed Components\\$setupId" "Microsoft\\Active Setup\\Installed Components\\$removalId" \
      "vba Tessary"; do
      export_key "HKLM\\Software\\$key" "$v" "${v#/}:"
    done
  done | ours
}
# stub <id>: the entry's StubPath run as the command line Explorer starts at a user's logon (a
# batch file's line is one), then its marker written as Explorer writes it.
stub() {
  local ver
  printf '@%s\r\n' "$(value "HKLM\\$setup\\$1" StubPath $(view_of x64))" >"$root/stub.cmd"
  ver=$(value "HKLM\\$setup\\$1" Version $(view_of x64))
  [ "$(wc -c <"$root/stub.cmd")" -gt 3 ] || return 1
  "$wine" cmd /d /c "$winroot\\stub.cmd" </dev/null >/dev/null 2>&1
  "$wine" reg add "HKCU\\$setup\\$1" /v Version /d "$ver" /f </dev/null >/dev/null 2>&1
}
# check [arguments]: the checker of the machine's bitness (of the installation for all users, or
# $checker); its output in $out, its status in $rc.
check() {
  "$wine" "${checker:-$(folder_of "$kind")\\vbatessary-check.exe}" "$@" </dev/null >"$work/check.out" 2>&1
  rc=$?
  out=$(tr -d '\r' <"$work/check.out")
}
tidy() {
  for p in $(export_key "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall" "" | awk '/^\[/ { k = $0 } /"DisplayName"="vba Tessary/ { print k }' |
    sed -n 's/.*\\\({[^}]*}\)\]$/\1/p'); do
    "$wine" msiexec /x "$p" /qn </dev/null >/dev/null 2>&1
  done
  for id in "$setupId" "$removalId"; do
    "$wine" reg delete "HKLM\\$setup\\$id" /f $(view_of x64) </dev/null >/dev/null 2>&1
    "$wine" reg delete "HKCU\\$setup\\$id" /f </dev/null >/dev/null 2>&1
  done
  for list in Addins Addins64; do "$wine" reg delete "HKCU\\Software\\Microsoft\\VBA\\VBE\\6.0\\$list\\$progid" /f </dev/null >/dev/null 2>&1; done
  rm -rf "$root" "$work"
}
trap tidy EXIT
tidy 2>/dev/null
mkdir -p "$root" "$work"

next=$version.21
version=$version.20
msi() { bash "$packaging/msi.sh" "$1" "$2" "$root/$3" "${dlls[@]}"; }
msi "$version" allusers-$kind current.msi && msi "$next" allusers-$kind newer.msi && msi "$version" "$kind" peruser.msi ||
  { echo "FAIL msi.sh could not build the MSIs"; exit 1; }
userBefore=$(user)
machineBefore=$(machine)

# Installed silently, as SYSTEM installs it: files under Program Files, the classes in HKLM in each
# view, the Active Setup entry, the Start-menu entries for all users, nothing in HKCU.
msiexec install /i "$winroot\\current.msi" /qn
files=ok
for h in x86 ${dlls[1]:+x64}; do
  for f in vbatessary.dll vbatessary-check.exe vbatessary-checkw.exe; do [ -f "$(unix "$(folder_of $h)\\$f")" ] || files="no $h $f"; done
  [ "$(value "HKLM\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" "" $(view_of $h))" = "$(folder_of $h)\\vbatessary.dll" ] ||
    files="$h's class not at $(folder_of $h)"
done
[ $rc -eq 0 ] && [ "$files" = ok ] && ok "msiexec /i allusers-$kind /qn: installed; each DLL's class in HKLM ($(view_of x86 | tr -d /)${dlls[1]:+ and $(view_of x64 | tr -d /)}) at its Program Files folder" ||
  bad "msiexec /i: exit $rc, $files"
stubPath=$(value "HKLM\\$setup\\$setupId" StubPath $(view_of x64))
[ "$stubPath" = "\"$(folder_of $kind)\\vbatessary-checkw.exe\" --enable-user" ] &&
  [ "$(value "HKLM\\$setup\\$setupId" Version $(view_of x64))" = "1,0,20" ] &&
  [ "$(value "HKLM\\$setup\\$setupId" IsInstalled $(view_of x64))" = 0x1 ] &&
  ok "Active Setup: StubPath $stubPath, Version 1,0,20, IsInstalled 1" || bad "Active Setup entry: StubPath \"$stubPath\""
[ -f "$(unix "$userMenu\\Check vba Tessary.lnk")" ] && menu=$userMenu
[ -f "$(unix "$menu\\Check vba Tessary.lnk")" ] && [ -f "$(unix "$menu\\Enable vba Tessary for me.lnk")" ] &&
  ok "Start menu: \"Check vba Tessary\" and \"Enable vba Tessary for me\" in $menu" || bad "no Start-menu entries in $menu"
[ "$(user)" = "$userBefore" ] && ok "nothing of the add-in in HKCU" || bad "written to HKCU: $(diff <(echo "$userBefore") <(user) | tr '\n' ' ')"

# The user's logon: both records, LoadBehavior 3, nothing else; a second run changes nothing.
start=$(date +%s%N)
stub "$setupId"
took=$((($(date +%s%N) - start) / 1000000))
added=$(diff <(echo "$userBefore") <(user) | sed -n 's/^> //p' | grep -v "Active Setup")
lists=$([ "$kind" = x64 ] && echo "Addins Addins64" || echo Addins)
want=$(for l in $lists; do
  printf '%s\n' "Software\\Microsoft\\VBA\\VBE\\6.0\\$l\\$progid|\"Description\"=" "Software\\Microsoft\\VBA\\VBE\\6.0\\$l\\$progid|\"FriendlyName\"=\"vba Tessary Ver. 1.01\"" \
    "Software\\Microsoft\\VBA\\VBE\\6.0\\$l\\$progid|\"LoadBehavior\"=dword:00000003"
done | LC_ALL=C sort)
if [ "$(printf '%s\n' "$added" | sed 's/^HKEY_CURRENT_USER\\//; s/|"Description"=.*/|"Description"=/' | LC_ALL=C sort)" = "$want" ]; then
  ok "the StubPath at logon: $(echo $lists | sed 's/ / and /') records with LoadBehavior 3, nothing else (${took} ms with Wine's start-up)"
else
  bad "the StubPath wrote: $(printf '%s\n' "$added" | tr '\n' ' ')"
fi
first=$(user)
stub "$setupId"
[ "$(user)" = "$first" ] && ok "a second run changes nothing" || bad "a second run changed: $(diff <(echo "$first") <(user) | tr '\n' ' ')"

# The add-in created through COM by its ProgID from Program Files, in each bitness.
cp "$here/create.js" "$root/create.js"
for h in $halves; do
  created=$(run "$(cscript_of $h)" "$winroot\\create.js")
  [ "$created" = "created; FormDisplayed=false" ] && ok "$h: created through COM by \"$progid\" from $(folder_of $h)" ||
    bad "$h: not created through COM: \"$created\""
done
check
[ $rc -eq 0 ] && grep -qi "all users" <<<"$out" && ok "the checker: exit 0, the installation for all users" ||
  { bad "the checker: exit $rc"; sed 's/^/  | /' <<<"$out"; }

# A newer build upgrades in place: one product, Version raised, the user's records kept.
installed=$(machine)
msiexec upgrade /i "$winroot\\newer.msi" /qn
products=$(export_key "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall" "" | grep -c '"DisplayName"="vba Tessary (all users)"')
if [ $rc -eq 0 ] && [ "$products" = 1 ] && [ "$(value "HKLM\\$setup\\$setupId" Version $(view_of x64))" = "1,0,21" ] &&
   [ "$(machine | grep -v "$setupId")" = "$(grep -v "$setupId" <<<"$installed")" ] && [ "$(user)" = "$first" ]; then
  ok "msiexec /i of $next: upgraded in place, one product, Version 1,0,21, the same classes, the records kept"
else
  bad "upgrade: exit $rc, $products products, Version $(value "HKLM\\$setup\\$setupId" Version $(view_of x64))"
fi

# Removal: no machine key, file or Start-menu entry; the entry left for each user's next logon
# deletes exactly the records (and the marker, so that a later install runs again).
msiexec remove /x "$winroot\\newer.msi" /qn
left=$(machine | grep -v "$removalId")
if [ $rc -eq 0 ] && [ "$left" = "$machineBefore" ] && [ ! -e "$(unix "$(folder_of $kind)")" ] && [ ! -e "$(unix "$(folder_of x86)")" ] &&
   [ ! -e "$(unix "$menu\\Check vba Tessary.lnk")" ] && [ ! -e "$(unix "$menu\\Enable vba Tessary for me.lnk")" ]; then
  ok "msiexec /x /qn: no machine key, file or Start-menu entry left"
else
  bad "msiexec /x: exit $rc; left: $(diff <(echo "$machineBefore") <(echo "$left") | tr '\n' ' ')"
fi
removal=$(value "HKLM\\$setup\\$removalId" StubPath $(view_of x64))
if [ -n "$removal" ] && stub "$removalId" && [ "$(user | grep -v "$removalId")" = "$userBefore" ]; then
  ok "the removal's Active Setup entry at the next logon: the records and the marker gone, nothing else"
else
  bad "the removal's entry \"$removal\" left: $(diff <(echo "$userBefore") <(user) | tr '\n' ' ')"
fi

# Both kinds on one machine. Machine, then per user: the per-user classes win; removing the per-user
# package takes the records with it, and the checker names the command that brings them back.
msiexec both1 /i "$winroot\\current.msi" /qn
[ -z "$(value "HKLM\\$setup\\$removalId" StubPath $(view_of x64))" ] && ok "installing again takes away the removal's entry" ||
  bad "the removal's entry is still there after installing again"
stub "$setupId"
msiexec both2 /i "$winroot\\peruser.msi" /qn
check
[ $rc -eq 0 ] && grep -qi "per user" <<<"$out" && ok "machine, then per user: the checker exits 0 and names the per-user installation" ||
  { bad "machine, then per user: the checker exit $rc"; sed 's/^/  | /' <<<"$out"; }
msiexec both3 /x "$winroot\\peruser.msi" /qn
check
if [ $rc -ne 0 ] && grep -q "Enable vba Tessary for me" <<<"$out"; then
  check --enable-user
  check
  [ $rc -eq 0 ] && ok "the per-user package removed: the checker names \"Enable vba Tessary for me\", which restores the bar" ||
    { bad "after --enable-user the checker still fails"; sed 's/^/  | /' <<<"$out"; }
else
  bad "the per-user package removed: the checker exit $rc without naming the Start-menu entry"
  sed 's/^/  | /' <<<"$out"
fi
# Per user, then machine: removing the machine's package leaves the per-user installation working,
# its records included, after the removal's entry has run.
msiexec both4 /x "$winroot\\current.msi" /qn
"$wine" reg delete "HKLM\\$setup\\$removalId" /f $(view_of x64) </dev/null >/dev/null 2>&1
msiexec both5 /i "$winroot\\peruser.msi" /qn
msiexec both6 /i "$winroot\\current.msi" /qn
stub "$setupId"
msiexec both7 /x "$winroot\\current.msi" /qn
stub "$removalId"
checker="$appdata\\..\\Local\\Programs\\vbaTessary\\$kind\\vbatessary-check.exe" check
[ $rc -eq 0 ] && ok "per user, then machine, the machine's removed: the per-user installation still loads" ||
  { bad "per user, then machine, the machine's removed: the checker exit $rc"; sed 's/^/  | /' <<<"$out"; }
msiexec both8 /x "$winroot\\peruser.msi" /qn
exit $status
