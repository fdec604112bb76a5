#!/usr/bin/env bash
# The MSI under Wine's msiexec, as a user or an administrator runs it: a silent per-user install,
# the registry it writes compared with what regsvr32 writes for the very same files, the add-in
# created through COM from the installed files, a second build of the same commit installed over
# the first, an upgrade in place, a downgrade refused, a silent removal that leaves the registry as
# before, and the zip's install.cmd beside it. A 64-bit prefix takes the x64 MSI (both DLLs) and
# refuses the x86 one, a 32-bit one takes the x86 MSI.
# usage: msi_test.sh <wine prefix> <packaging dir> <this tree's vbatessary.dll>
#                    <32-bit vbatessary.dll, for a 64-bit prefix; else -> <version.h of the build>
#                    [<check_test.exe, which runs a command as the desktop's user>]
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/wine-common.sh"
wine_use "$1"
packaging=$(cd "$2" && pwd)
own=$3
x86dll=$4
version=$(sed -n 's/^#define TESSARY_VERSION_TEXT "\(.*\)"$/\1/p' "$5")
asUser=${6:-}

for tool in wixl msibuild msiinfo; do
  command -v $tool >/dev/null || { echo "skipped: $tool is not installed (Debian packages wixl, msitools)"; exit 77; }
done
[ -n "$version" ] || { echo "FAIL no version in $5"; exit 1; }

. "$here/release_common.sh"

root=$WINEPREFIX/drive_c/tessary-msi
winroot='C:\tessary-msi'
work=$(mktemp -d)

if [ "$arch" = win64 ]; then
  kind=x64
  if [ "$x86dll" = - ] || [ ! -f "$x86dll" ]; then
    echo "skipped: no 32-bit vbatessary.dll at $x86dll; the x64 MSI holds both (build the win32 preset)"
    exit 77
  fi
  dlls=("$x86dll" "$own")
  halves="x64"
  if runs_32bit_here; then
    halves="x86 x64"
  else
    echo "note: 32-bit programs do not run in this prefix (this kernel runs none): the x86 half is"
    echo "      installed and removed, but only the x64 half is registered and created here"
  fi
else
  kind=x86
  dlls=("$own")
  halves="x86"
fi
regsvr32_of() { if [ "$1" = x86 ] && [ "$arch" = win64 ]; then echo 'C:\windows\syswow64\regsvr32.exe'; else echo regsvr32; fi; }
views() { if [ "$arch" = win64 ]; then echo /reg:32 /reg:64; else echo ""; fi; }

# No desktop entries on the host for the Start-menu shortcut.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"
# The per-user folders, as Windows Installer resolves LocalAppDataFolder and ProgramMenuFolder here.
{ read -r appdata; read -r roaming; } <<<"$("$wine" cmd /c 'echo %LOCALAPPDATA%&echo %APPDATA%' </dev/null 2>/dev/null | tr -d '\r')"
shortcut=$("$wine" winepath -u "$roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Check vba Tessary.lnk" </dev/null 2>/dev/null)
dest_win="$appdata\\Programs\\vbaTessary"
dest=$("$wine" winepath -u "$dest_win" </dev/null 2>/dev/null)
[ -n "$appdata" ] && [ -n "$dest" ] || { echo "FAIL no LOCALAPPDATA in this prefix"; exit 1; }

# Every value of the add-in's keys, one line each ("key|name=data"), whichever hive Wine keeps them
# in: a per-user type library is machine-wide under Wine's regsvr32, so keys are taken from
# "Classes\" on. A type library's HELPDIR is its folder, with or without the final backslash.
# A few exports each time (every Wine process costs, in an emulated guest most of all).
dump() {
  export_key "HKCU\\Software"
  export_key "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
  for key in "TypeLib\\$libid" "Interface\\$iid"; do
    if [ "$arch" = win64 ]; then
      for view in /reg:32 /reg:64; do export_key "HKLM\\Software\\Classes\\$key" $view; done
    else
      export_key "HKLM\\Software\\Classes\\$key"
    fi
  done
}
# rows_of <dump file>
rows_of() {
  awk -v ids="$clsid|$progid|$libid|$iid" '
    BEGIN { n = split(ids, id, "|") }
    /^\[/ {
      key = substr($0, 2, length($0) - 2); ours = 0
      for (i = 1; i <= n; i++) if (index(key, "\\" id[i])) ours = 1
      if (key !~ /\\Classes\\/ && key !~ /\\VBA\\VBE\\/) ours = 0
      sub(/^HKEY_[A-Z_]*\\Software\\/, "", key); next
    }
    /^(@|")/ && ours { print key "|" $0 }' "$1" |
    sed -e 's/\(HELPDIR|@="[^"]*\)\\\\"$/\1"/' | LC_ALL=C sort -u
}
rows() {
  dump >"$work/dump"
  rows_of "$work/dump"
}

# What of the add-in the prefix holds, to compare before and after: its rows, the MSI's marker,
# and the products in Apps & Features (Wine keeps them machine-wide) called "vba Tessary".
registry() {
  dump >"$work/dump"
  rows_of "$work/dump"
  grep -q '^\[HKEY_CURRENT_USER\\Software\\vba Tessary\]' "$work/dump" && echo "HKCU\\Software\\vba Tessary"
  awk '/^\[/ { key = substr($0, 2, length($0) - 2) }
       $0 == "\"DisplayName\"=\"vba Tessary\"" { print "product " key }' "$work/dump" |
    sed 's/^product HKEY_LOCAL_MACHINE/product HKLM/'
}

# The Apps & Features entry of the installed product.
product() {
  registry | sed -n 's/^product //p' | head -1
}

tidy() {
  for p in $(registry | sed -n 's/^product .*\\\({[^}]*}\)$/\1/p'); do
    "$wine" msiexec /x "$p" /qn </dev/null >/dev/null 2>&1
  done
  for h in x86 x64; do
    [ -f "$dest/$h/vbatessary.dll" ] && "$wine" "$(regsvr32_of $h)" /u /s "$dest_win\\$h\\vbatessary.dll" </dev/null >/dev/null 2>&1
  done
  forget_machine_wide
  rm -rf "$root" "$work" "$dest"
}
# The type library and interface keys Wine's regsvr32 writes machine-wide.
forget_machine_wide() {
  for key in "TypeLib\\$libid" "Interface\\$iid"; do
    for view in $(views) ""; do "$wine" reg delete "HKLM\\Software\\Classes\\$key" /f $view </dev/null >/dev/null 2>&1; done
  done
}
trap tidy EXIT
# What an earlier, interrupted run may have left goes first.
forget_machine_wide
mkdir -p "$root"

# Two builds of this commit (build number 20), a later build (21) to upgrade to.
msi() { bash "$packaging/msi.sh" "$1" "$kind" "$root/$2" "${dlls[@]}"; }
next=$version.21
version=$version.20
msi "$version" current.msi && msi "$version" again.msi && msi "$next" newer.msi || { echo "FAIL msi.sh could not build the MSIs"; exit 1; }
code() { msiinfo export "$root/$1" Property | tr -d '\r' | awk -F'\t' -v p="$2" '$1 == p { print $2 }'; }
if [ "$(code current.msi ProductCode)" != "$(code again.msi ProductCode)" ] &&
   [ "$(code current.msi UpgradeCode)" = "$(code again.msi UpgradeCode)" ]; then
  ok "built vbatessary-$version-$kind.msi twice (two product codes, one upgrade code) and a $next to upgrade to"
else
  bad "two builds of $version: product codes $(code current.msi ProductCode) $(code again.msi ProductCode)"
fi


"$wine" reg delete "${settings%\\*}" /f </dev/null >/dev/null 2>&1
baseline=$(registry)

# A silent per-user installation: files in place, the product in Apps & Features.
msiexec install /i "$winroot\\current.msi" /qn
# Wine runs everything elevated: whether Windows would ask is the summary's Word Count bit 8.
wordCount=$(msiinfo suminfo "$root/current.msi" | sed -n 's/^Source: \([0-9]*\).*/\1/p')
if [ $rc -eq 0 ] && [ $((${wordCount:-0} & 8)) -eq 8 ]; then
  ok "msiexec /i vbatessary-$version-$kind.msi /qn: installed; the package asks for no elevation (Word Count $wordCount, bit 8 set)"
else
  bad "msiexec /i: exit status $rc, Word Count ${wordCount:-none}"
fi
expect=$(for f in README.txt ${dlls[1]:+x64/vbatessary.dll x64/vbatessary-check.exe} x86/vbatessary.dll x86/vbatessary-check.exe; do
  echo "./$f"; done | LC_ALL=C sort | tr '\n' ' ')
found=$( (cd "$dest" 2>/dev/null && find . -type f | LC_ALL=C sort | tr '\n' ' '))
[ "$found" = "$expect" ] && ok "the files are in $dest_win: $found" || bad "$dest_win holds \"$found\", not \"$expect\""
for f in "${dlls[0]}":x86/vbatessary.dll "$(dirname "${dlls[0]}")/vbatessary-check.exe":x86/vbatessary-check.exe \
  ${dlls[1]:+"$own":x64/vbatessary.dll "$(dirname "$own")/vbatessary-check.exe":x64/vbatessary-check.exe}; do
  cmp -s "$dest/${f##*:}" "${f%:*}" || bad "the installed ${f##*:} is not the package's"
done
# Each versioned file's File.Version is what Windows' own reader (GetFileVersion) finds in the
# installed file, not only what msi.sh read from it.
cat >"$root/versions.js" <<'JS'
var fs = new ActiveXObject("Scripting.FileSystemObject");
for (var i = 0; i < WScript.Arguments.length; i++) WScript.Echo(fs.GetFileVersion(WScript.Arguments(i)));
JS
tr -d '\r' < <(msiinfo export "$root/current.msi" File) | awk -F'\t' 'NR > 3 && $5 != "" { print $1 " " $5 }' | LC_ALL=C sort >"$work/file-versions"
paths=() expected=()
while read -r id fv; do
  case $id in Dll*) f=vbatessary.dll h=${id#Dll} ;; Check*) f=vbatessary-check.exe h=${id#Check} ;; *) continue ;; esac
  paths+=("$dest_win\\$h\\$f") expected+=("$fv")
done <"$work/file-versions"
read_versions=$("$wine" cscript //nologo "$winroot\\versions.js" "${paths[@]}" </dev/null 2>/dev/null | tr -d '\r' | paste -sd ' ' -)
if [ ${#paths[@]} -gt 0 ] && [ "$read_versions" = "${expected[*]}" ]; then
  ok "File.Version of ${#paths[@]} files is what GetFileVersion reads from the installed files (${expected[*]})"
else
  bad "File.Version \"${expected[*]}\" but GetFileVersion reads \"$read_versions\" from ${paths[*]}"
fi
# The shortcut runs the checker of the machine's bitness, with --pause (a .lnk holds its strings in
# UTF-16 or in the ANSI code page: without the NULs both read as text; no binutils in the guest).
link=$(tr -d '\000' <"$shortcut" 2>/dev/null | tr -c '[:print:]' '\n')
if grep -qF -- "--pause" <<<"$link" && grep -qiF "\\$kind\\vbatessary-check.exe" <<<"$link"; then
  ok "Start menu: \"Check vba Tessary\" runs $kind\\vbatessary-check.exe --pause"
else
  bad "Start menu: no shortcut to $kind\\vbatessary-check.exe --pause at $shortcut"
fi
entry=$(product)
# Apps & Features: the version is ProductVersion, the README and folder are the ARP properties', and
# the product's icon is the one icon.sh draws, where Wine's msiexec keeps it.
bash "$packaging/icon.sh" "$work/icon.ico"
if [ -n "$entry" ] && [ "$(value "$entry" DisplayVersion)" = "$(code current.msi ProductVersion)" ] &&
   [ "$(value "$entry" Publisher)" = "vba Tessary project" ] && [ "$(value "$entry" Readme)" = "$dest_win\\README.txt" ] &&
   [ "$(value "$entry" InstallLocation)" = "$dest_win\\" ] &&
   cmp -s "$work/icon.ico" "${shortcut%/Microsoft/Windows/Start Menu/Programs/*}/Microsoft/Installer/${entry##*\\}/vbatessary.ico"; then
  ok "Apps & Features: \"vba Tessary\" $(value "$entry" DisplayVersion), publisher, readme, folder, icon"
else
  bad "Apps & Features entry \"$entry\": version \"$(value "$entry" DisplayVersion)\", readme \"$(value "$entry" Readme)\", folder \"$(value "$entry" InstallLocation)\", or no icon"
fi
for h in x86 x64; do
  [ $h = x64 ] && [ "$kind" = x86 ] && continue
  list=Addins bits=32
  [ $h = x64 ] && list=Addins64 bits=64
  [ "$(value "HKCU\\Software\\Microsoft\\VBA\\VBE\\6.0\\$list\\$progid" FriendlyName)" = "vba Tessary Ver. 1.01" ] &&
    [ "$(value "HKCU\\Software\\Classes\\TypeLib\\$libid\\1.0\\0\\win$bits")" = "$dest_win\\$h\\vbatessary.dll" ] &&
    ok "$h: listed under $list, its type library entry at the installed file" || bad "$h: not listed under $list or its type library is elsewhere"
done
installed=$(rows)
loads=$(printf '%s\n' "$installed" | grep -c '\\VBA\\VBE\\6.0\\Addins[0-9]*\\.*|"LoadBehavior"=dword:00000003$')
lists=1
[ "$kind" = x64 ] && lists=2
[ "$loads" = $lists ] && ok "LoadBehavior 3 (load at startup) in each add-in record" ||
  bad "LoadBehavior 3 in $loads add-in records, not $lists"

# The second build of the same commit over the first: a major upgrade (never "another version of
# this product is already installed"), one product left, the same registration, which the
# add-in is then created through.
msiexec again /i "$winroot\\again.msi" /qn
entry=$(product)
if [ $rc -eq 0 ] && [ "${entry##*\\}" = "$(code again.msi ProductCode)" ] && [ "$(registry | grep -c '^product ')" = 1 ] &&
   [ "$(rows)" = "$installed" ] && [ "$( (cd "$dest" && find . -type f | LC_ALL=C sort | tr '\n' ' '))" = "$expect" ] &&
   [ -f "$shortcut" ]; then
  ok "msiexec /i of a second build of $version: installed over the first, one product, the same files and registration"
else
  bad "second build of $version: exit $rc, products: $(registry | grep '^product ' | tr '\n' ' ')"
fi

# The add-in created through COM from the installed files. Wine merges no per-user classes into
# HKCR and keeps one per-user class key for both bitnesses: the test copies the class to HKLM in
# each view, pointing at that view's DLL, and takes it away again.
cp "$here/create.js" "$root/create.js"
for h in $halves; do
  view=
  [ "$arch" = win64 ] && { [ $h = x86 ] && view=/reg:32 || view=/reg:64; }
  # Once in a full run under load the first creation failed where the same steps then worked:
  # a second try, and what the machine-wide copy held when the first failed.
  for try in 1 2; do
    for key in "CLSID\\$clsid" "$progid"; do
      "$wine" reg copy "HKCU\\Software\\Classes\\$key" "HKLM\\Software\\Classes\\$key" /s /f $view </dev/null >/dev/null 2>&1
    done
    "$wine" reg add "HKLM\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" /ve /d "$dest_win\\$h\\vbatessary.dll" /f $view </dev/null >/dev/null 2>&1
    created=$("$wine" "$(cscript_of $h)" "$winroot\\create.js" </dev/null 2>&1 | tr -d '\r')
    [ "$created" = "created; FormDisplayed=false" ] && break
    echo "note: $h, try $try: \"$created\"; the class's server \"$(value "HKLM\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" "" $view)\", the program id's class \"$(value "HKLM\\Software\\Classes\\$progid\\CLSID" "" $view)\""
    sleep 1
  done
  for key in "CLSID\\$clsid" "$progid"; do
    "$wine" reg delete "HKLM\\Software\\Classes\\$key" /f $view </dev/null >/dev/null 2>&1
  done
  [ "$created" = "created; FormDisplayed=false" ] && ok "$h: created through COM by \"$progid\" from $dest_win\\$h" ||
    bad "$h: not created through COM from the installed file: \"$created\""
done

# The checker's repair of the MSI's installation, its DLL deleted: Windows Installer puts it back.
if [ -n "$asUser" ] && [ -f "$asUser" ]; then
  rm -f "$dest/$kind/vbatessary.dll"
  "$wine" "$asUser" --as-user "\"$dest_win\\$kind\\vbatessary-check.exe\" --repair" </dev/null >"$work/repair.out" 2>&1
  rc=$?
  repaired=$(tr -d '\r' <"$work/repair.out")
  if [ $rc -eq 0 ] && cmp -s "$dest/$kind/vbatessary.dll" "${dlls[$([ "$kind" = x64 ] && echo 1 || echo 0)]}" && [ "$(rows)" = "$installed" ] &&
     grep -q "Windows Installer repaired" <<<"$repaired"; then
    ok "the DLL deleted, \"vbatessary-check.exe --repair\" as the user: Windows Installer put it back, the check exits 0"
  else
    bad "the DLL deleted, \"vbatessary-check.exe --repair\": exit $rc"
    sed 's/^/  | /' <<<"$repaired"
  fi
fi

# The zip's install.cmd while the MSI's product is installed: refused, saying how to remove it.
mkdir -p "$root/zip/x86" "$root/zip/x64"
cp "$packaging/install.cmd" "$root/zip/"
cp "${dlls[0]}" "$root/zip/x86/vbatessary.dll"
[ "$kind" = x64 ] && cp "$own" "$root/zip/x64/vbatessary.dll"
(cd "$root/zip" && "$wine" cmd /c "$winroot\\zip\\install.cmd" </dev/null >"$work/zip.raw" 2>&1)
rc=$?
tr -d '\r' <"$work/zip.raw" >"$work/zip.out"
if [ $rc -ne 0 ] && grep -q "installed from its MSI" "$work/zip.out" && [ "$(rows)" = "$installed" ]; then
  ok "install.cmd beside the MSI's product: refused (exit $rc), the registration untouched"
else
  bad "install.cmd beside the MSI's product: exit $rc"
  sed 's/^/  | /' "$work/zip.out"
fi

# A later build replaces it in place, an earlier release's LoadBehavior 1 included; the older MSI
# is then refused.
for h in x86 x64; do
  [ $h = x64 ] && [ "$kind" = x86 ] && continue
  list=Addins
  [ $h = x64 ] && list=Addins64
  "$wine" reg add "HKCU\\Software\\Microsoft\\VBA\\VBE\\6.0\\$list\\$progid" /v LoadBehavior /t REG_DWORD /d 1 /f </dev/null >/dev/null 2>&1
done
msiexec upgrade /i "$winroot\\newer.msi" /qn
after=$(product)
if [ $rc -eq 0 ] && [ "$(value "$after" DisplayVersion)" != "$(value "$entry" DisplayVersion)" ] &&
   [ "$(registry | grep -c '^product ')" = 1 ] && [ "$(rows)" = "$installed" ]; then
  ok "msiexec /i of $next: upgraded in place to $(value "$after" DisplayVersion), one product, the same registration"
else
  bad "upgrade to $next: exit $rc, products: $(registry | grep '^product ' | tr '\n' ' ')"
fi
# The action a refused install stopped at: the last its log starts (Wine's msiexec /qn shows no
# launch condition's message).
stopped_at() { tr -d '\r\0' <"$1" 2>/dev/null | sed -n 's/^Action start [^ ]*: \(.*\)\.$/\1/p' | grep -v '^INSTALL$' | tail -1; }
msiexec downgrade /i "$winroot\\current.msi" /qn /l*v "$winroot\\downgrade.log"
if [ $rc -ne 0 ] && [ "$(stopped_at "$root/downgrade.log")" = LaunchConditions ] && [ "$(product)" = "$after" ] &&
   [ "$(rows)" = "$installed" ]; then
  ok "msiexec /i of $version over $next: refused (exit $rc) by LaunchConditions, $next kept"
else
  bad "downgrade to $version: exit $rc, product now \"$(product)\""
fi

# A silent removal leaves the registry as it was before the installation, the user's setting aside.
"$wine" reg add "$settings" /v DisplayOnConnect /d 1 /f </dev/null >/dev/null 2>&1
msiexec remove /x "$winroot\\newer.msi" /qn
if [ $rc -eq 0 ] && [ "$(registry)" = "$baseline" ] && [ ! -e "$dest" ] && [ ! -e "$shortcut" ] &&
   [ "$(value "$settings" DisplayOnConnect)" = 1 ]; then
  ok "msiexec /x /qn: nothing of it left in the registry, on disk or in the Start menu, DisplayOnConnect kept"
else
  bad "msiexec /x: exit $rc; left: $(diff <(echo "$baseline") <(registry) | tr '\n' ' '); folder: $(ls -R "$dest" 2>&1 | tr '\n' ' ')"
fi
"$wine" reg delete "${settings%\\*}" /f </dev/null >/dev/null 2>&1

# The x86 MSI on 64-bit Windows: stopped by its launch condition, nothing installed.
if [ "$kind" = x64 ]; then
  bash "$packaging/msi.sh" "$version" x86 "$root/x86.msi" "${dlls[0]}" || bad "msi.sh could not build the x86 MSI"
  msiexec x86 /i "$winroot\\x86.msi" /qn /l*v "$winroot\\x86.log"
  last=$(stopped_at "$root/x86.log")
  if [ $rc -ne 0 ] && [ "$last" = LaunchConditions ] && [ "$(registry)" = "$baseline" ] && [ ! -e "$dest" ]; then
    ok "the x86 MSI on this 64-bit prefix: refused (exit $rc) by LaunchConditions: \"$(msiinfo export "$root/x86.msi" LaunchCondition | grep VersionNT64 | cut -f2 | tr -d '\r')\""
  else
    bad "the x86 MSI on this 64-bit prefix: exit $rc, the last action started \"$last\""
  fi
fi

# What regsvr32 writes for the same files, in the same places, is what the MSI wrote. The halves
# register in install.cmd's order, x86 first, so the shared keys end with the machine's own DLL's.
mkdir -p "$dest/x86" "$dest/x64"
cp "${dlls[0]}" "$dest/x86/vbatessary.dll"
[ "$kind" = x64 ] && cp "$own" "$dest/x64/vbatessary.dll"
for h in $halves; do "$wine" "$(regsvr32_of $h)" /s "$dest_win\\$h\\vbatessary.dll" </dev/null >/dev/null 2>&1 || bad "regsvr32 $h failed"; done
reference=$(rows)
for h in $halves; do "$wine" "$(regsvr32_of $h)" /u /s "$dest_win\\$h\\vbatessary.dll" </dev/null >/dev/null 2>&1; done
rm -rf "$dest"
compared=$installed
if [ "$kind" = x64 ] && [ "$halves" = x64 ]; then
  # Without 32-bit programs regsvr32 cannot write the x86 half: its own rows (its add-in list and
  # type library entry) are left out of the comparison, everything else must match.
  compared=$(printf '%s\n' "$installed" | grep -v -e '\\Addins\\' -e '\\0\\win32|')
fi
if [ -n "$reference" ] && [ "$compared" = "$reference" ]; then
  ok "the MSI's registration is what regsvr32 writes ($(printf '%s\n' "$reference" | wc -l) values)"
else
  bad "the MSI's registration differs from regsvr32's (< MSI, > regsvr32):"
  diff <(printf '%s\n' "$compared") <(printf '%s\n' "$reference") | sed 's/^/  | /'
fi
[ "$(registry)" = "$baseline" ] || bad "left after regsvr32: $(diff <(echo "$baseline") <(registry) | tr '\n' ' ')"

# The MSI over an installation from the zip: the MSI's registration is the one that stays, and the
# zip's uninstall.cmd then removes its own folder only.
cp "$packaging/uninstall.cmd" "$root/zip/"
zipdest="$appdata\\vbaTessary"
(cd "$root/zip" && "$wine" cmd /c "$winroot\\zip\\install.cmd" </dev/null >"$work/zip.raw" 2>&1) || bad "install.cmd from the zip failed: $(tr -d '\r' <"$work/zip.raw")"
# Windows keeps the zip's type library per user, where the MSI's rows overwrite it; Wine's
# regsvr32 writes it machine-wide, and the test moves that part out of the way itself.
forget_machine_wide
msiexec over-zip /i "$winroot\\current.msi" /qn
server=$(value "HKCU\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" "")
if [ $rc -eq 0 ] && [ "$(rows)" = "$installed" ] && [ "$server" = "$dest_win\\${halves##* }\\vbatessary.dll" ]; then
  ok "the MSI over the zip's installation: one registration, the MSI's ($server)"
else
  bad "the MSI over the zip's installation: exit $rc, the class points at \"$server\""
fi
(cd "$root/zip" && "$wine" cmd /c "$winroot\\zip\\uninstall.cmd" </dev/null >"$work/unzip.raw" 2>&1)
rc=$?
if [ $rc -eq 0 ] && [ "$(rows)" = "$installed" ] && [ ! -e "$("$wine" winepath -u "$zipdest" </dev/null 2>/dev/null)" ] &&
   grep -q "belongs to the installation from the MSI" "$work/unzip.raw"; then
  ok "the zip's uninstall.cmd after the MSI: its folder gone, the MSI's registration kept"
else
  bad "the zip's uninstall.cmd after the MSI: exit $rc"
  tr -d '\r' <"$work/unzip.raw" | sed 's/^/  | /'
fi
msiexec last-remove /x "$winroot\\current.msi" /qn
[ "$(registry)" = "$baseline" ] || bad "left at the end: $(diff <(echo "$baseline") <(registry) | tr '\n' ' ')"

# The release's four files signed and verified with a throwaway certificate.
if [ "$kind" = x64 ]; then
  sh "$here/signing_test.sh" "${dlls[0]}" "$own" "$root/current.msi" "$root/x86.msi" >"$work/signing.out" 2>&1
  case $? in
  0) ok "signed and verified: both DLLs and both MSIs ($(grep -c '^ok' "$work/signing.out") checks)" ;;
  77) echo "note: $(head -1 "$work/signing.out")" ;;
  *) bad "signing:" && grep -v '^ok' "$work/signing.out" | sed 's/^/  | /' ;;
  esac
fi

exit $status
