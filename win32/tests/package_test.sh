#!/bin/sh
# The release package under Wine's cmd, as a user runs it: install.cmd from the unpacked folder,
# an update that fails and one that works, the add-in created through COM from the installed file
# once the download is gone, uninstall.cmd (twice, with /all, and after the installed folder was
# deleted by hand), and the refusal to run elevated.
# A 64-bit prefix is 64-bit Windows: both DLLs, each registered by the regsvr32 of its bitness
# (the x64 half only where this kernel runs no 32-bit programs). A 32-bit prefix is 32-bit
# Windows: the x86 half only.
# usage: package_test.sh <wine prefix> <packaging dir> <this tree's vbatessary.dll>
#                        <32-bit vbatessary.dll, for a 64-bit prefix; else -> <elevated whoami.exe>
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/wine-common.sh"
wine_use "$1"
packaging=$(cd "$2" && pwd)
own=$3
x86dll=$4
elevated_whoami=$5

. "$here/release_common.sh"

# Paths with blanks and parentheses, as a user's profile and a second download have them.
root=$WINEPREFIX/drive_c/tessary-package
winroot='C:\tessary-package'
profile="$root/John Smith/AppData/Local"
winprofile="$winroot\\John Smith\\AppData\\Local"
dest="$profile/vbaTessary"
windest="$winprofile\\vbaTessary"
downloads=$root/Downloads
windownloads="$winroot\\Downloads"

work=$(mktemp -d)

system32=$WINEPREFIX/drive_c/windows/system32
tidy() {
  [ -f "$work/whoami.exe" ] && cp "$work/whoami.exe" "$system32/whoami.exe"
  # Whatever a failed check left registered goes, so that the prefix's other tests start clean.
  [ -f "$dest/x64/vbatessary.dll" ] && "$wine" regsvr32 /u /s "$windest\\x64\\vbatessary.dll" </dev/null >/dev/null 2>&1
  [ -f "$dest/x86/vbatessary.dll" ] && "$wine" "$regsvr32_x86" /u /s "$windest\\x86\\vbatessary.dll" </dev/null >/dev/null 2>&1
  machine_copies delete
  if [ $status -ne 0 ]; then
    for key in "HKCU\\Software\\Microsoft\\VBA\\VBE\\6.0\\Addins\\$progid" "HKCU\\Software\\Microsoft\\VBA\\VBE\\6.0\\Addins64\\$progid" \
               "HKCU\\Software\\Classes\\CLSID\\$clsid" "HKCU\\Software\\Classes\\$progid" \
               "HKLM\\Software\\Classes\\TypeLib\\$libid" "HKLM\\Software\\Classes\\Interface\\$iid"; do
      "$wine" reg delete "$key" /f </dev/null >/dev/null 2>&1
      [ "$arch" = win64 ] && "$wine" reg delete "$key" /f /reg:32 </dev/null >/dev/null 2>&1
    done
  fi
  rm -rf "$root" "$work"
}
trap tidy EXIT

# The halves this prefix installs, and the DLL each comes from.
if [ "$arch" = win64 ]; then
  x64=$own
  x86=$x86dll
  regsvr32_x86='C:\windows\syswow64\regsvr32.exe'
  cscript_x86='C:\windows\syswow64\cscript.exe'
  if [ "$x86" = - ] || [ ! -f "$x86" ]; then
    echo "skipped: no 32-bit vbatessary.dll at $x86; 64-bit Windows installs both (build the win32 preset)"
    exit 77
  fi
  if runs_32bit_here; then
    halves="x86 x64"
  else
    halves="x64"
    echo "note: 32-bit programs do not run in this prefix (this kernel runs none): install.cmd must"
    echo "      skip the x86 half, and the x64 half alone is tested here"
  fi
else
  x64=
  x86=$own
  regsvr32_x86='C:\windows\system32\regsvr32.exe'
  cscript_x86='C:\windows\system32\cscript.exe'
  halves="x86"
  echo "note: a 32-bit prefix is 32-bit Windows: the x86 half only"
fi
has() { case " $halves " in *" $1 "*) return 0 ;; esac; return 1; }
source_of() { if [ "$1" = x86 ]; then echo "$x86"; else echo "$x64"; fi; }
bits_of() { if [ "$1" = x86 ]; then echo 32; else echo 64; fi; }
list_of() { if [ "$1" = x86 ]; then echo Addins; else echo Addins64; fi; }
# The registry view of a half's class keys; a 32-bit prefix has one.
view_of() {
  if [ "$arch" = win32 ]; then echo ""; elif [ "$1" = x86 ]; then echo /reg:32; else echo /reg:64; fi
}

mkdir -p "$root" "$profile" "$downloads"

# unpack <folder name>: the package as a user has it after Extract All. A 64-bit tree has both
# DLLs and makes the release zip itself; a 32-bit one has only its own DLL.
unpack() {
  into="$downloads/$1"
  rm -rf "$into"
  mkdir -p "$into"
  if [ -n "$x64" ]; then
    unzip -q "$work/release.zip" -d "$into"
  else
    cp "$packaging/install.cmd" "$packaging/uninstall.cmd" "$packaging/README.txt" "$into/"
    mkdir "$into/x86"
    cp "$x86" "$into/x86/vbatessary.dll"
    cp "$(dirname "$x86")/vbatessary-check.exe" "$into/x86/"
  fi
}

# Wine gives each process a LOCALAPPDATA of its own: this one hands the test's to the command.
printf '@echo off\r\nset "LOCALAPPDATA=%s"\r\n%%*\r\n' "$winprofile" >"$root/as-user.cmd"

# run <name> <working folder> <cmd.exe> <script> [args]: the script through "cmd /c", as its
# user; output (CR LF made LF) in $work/<name>.out, exit status in $rc.
run() {
  name=$1
  dir=$2
  shell=$3
  shift 3
  (cd "$dir" && "$wine" "$shell" /c "$winroot\\as-user.cmd" "$@" >"$work/$name.raw" 2>&1 </dev/null)
  rc=$?
  tr -d '\r' <"$work/$name.raw" >"$work/$name.out"
}
show() { sed 's/^/  | /' "$work/$1.out"; }
says() {
  if grep -qF -- "$2" "$work/$1.out"; then return 0; fi
  bad "$1 does not say \"$2\":"
  show "$1"
  return 1
}
succeeded() {
  if [ "$rc" -eq 0 ]; then return 0; fi
  bad "$1: exit status $rc"
  show "$1"
  return 1
}
failed() {
  if [ "$rc" -ne 0 ]; then return 0; fi
  bad "$1: exit status 0 where a failure was due"
  show "$1"
  return 1
}

# What of the add-in the registry holds: every line of the user's hive that names it, and the keys
# Wine writes machine-wide (the type library) or the test copies there.
registry() {
  "$wine" reg export HKCU "$winroot\\hkcu.reg" /y </dev/null >/dev/null 2>&1
  iconv -f UTF-16 -t UTF-8 "$root/hkcu.reg" | tr -d '\r' |
    grep -i -e vbatessary -e "$clsid" -e "$libid" -e "$iid" | LC_ALL=C sort
  rm -f "$root/hkcu.reg"
  for key in "TypeLib\\$libid" "Interface\\$iid" "CLSID\\$clsid" "$progid"; do
    for view in /reg:32 /reg:64; do
      [ "$arch" = win32 ] && [ $view = /reg:64 ] && continue
      exists "HKLM\\Software\\Classes\\$key" $view && echo "HKLM\\Software\\Classes\\$key $view"
    done
  done
}

# Wine merges no per-user classes into HKCR: the test (not install.cmd) copies them to HKLM for
# activation, and takes them back.
machine_copies() {
  for view in /reg:32 /reg:64; do
    [ "$arch" = win32 ] && [ $view = /reg:64 ] && continue
    for key in "CLSID\\$clsid" "$progid"; do
      if [ "$1" = make ]; then
        "$wine" reg copy "HKCU\\Software\\Classes\\$key" "HKLM\\Software\\Classes\\$key" /s /f $view </dev/null >/dev/null 2>&1
      else
        # Once in many runs Wine's reg left the key right after the activation: ask again.
        for try in 1 2 3; do
          "$wine" reg delete "HKLM\\Software\\Classes\\$key" /f $view </dev/null >/dev/null 2>&1
          exists "HKLM\\Software\\Classes\\$key" $view || break
          sleep 1
        done
      fi
    done
  done
}

# installed <what>: the installed files are those of the package, nothing else is in the folder,
# and each half is registered for its editor.
installed() {
  what=$1
  expect=""
  for h in $halves; do expect="$expect./$h/vbatessary-check.exe
./$h/vbatessary.dll
"; done
  expect=$(printf '%s' "$expect" | LC_ALL=C sort | tr '\n' ' ')
  found=$( (cd "$dest" 2>/dev/null && find . -type f | LC_ALL=C sort | tr '\n' ' '))
  if [ "$found" = "$expect" ]; then ok "$what: the folder holds $found"; else bad "$what: the folder holds \"$found\", not \"$expect\""; fi
  for h in $halves; do
    file="$windest\\$h\\vbatessary.dll"
    cmp -s "$dest/$h/vbatessary.dll" "$(source_of $h)" || bad "$what: $h/vbatessary.dll is not the package's"
    name=$(value "HKCU\\Software\\Microsoft\\VBA\\VBE\\6.0\\$(list_of $h)\\$progid" FriendlyName "$(view_of $h)")
    [ "$name" = "vba Tessary Ver. 1.01" ] || bad "$what: $(list_of $h) lists \"$name\""
    load=$(value "HKCU\\Software\\Microsoft\\VBA\\VBE\\6.0\\$(list_of $h)\\$progid" LoadBehavior "$(view_of $h)")
    [ "$load" = 0x3 ] || bad "$what: $(list_of $h) has LoadBehavior \"$load\", not 0x3 (load at startup)"
    lib=$(value "HKLM\\Software\\Classes\\TypeLib\\$libid\\1.0\\0\\win$(bits_of $h)")
    [ "$lib" = "$file" ] || bad "$what: the type library's win$(bits_of $h) entry is \"$lib\", not $file"
    server=$(value "HKCU\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" "" "$(view_of $h)")
    if [ "$server" = "$file" ]; then
      ok "$what: $h registered ($(list_of $h), class, type library) from $file"
    elif [ "$h" = x86 ] && [ "$server" = "$windest\\x64\\vbatessary.dll" ]; then
      # Wine keeps one per-user class key for both views; install.cmd checked it after each
      # registration, Windows keeps both.
      ok "$what: $h registered ($(list_of $h), type library) from $file; Wine shares its class key with x64"
    else
      bad "$what: the $h class points at \"$server\", not $file"
    fi
  done
}

# The user's setting is the one thing uninstall.cmd keeps: this test starts without it.
"$wine" reg delete "${settings%\\*}" /f </dev/null >/dev/null 2>&1
baseline=$(registry)
# An earlier release wrote LoadBehavior 1: installing over it leaves 3.
for h in $halves; do
  "$wine" reg add "HKCU\\Software\\Microsoft\\VBA\\VBE\\6.0\\$(list_of $h)\\$progid" /v LoadBehavior /t REG_DWORD /d 1 /f </dev/null >/dev/null 2>&1
done

if [ -n "$x64" ]; then
  if sh "$packaging/zip.sh" make "$work/release.zip" "$x86" "$x64" && sh "$packaging/zip.sh" check "$work/release.zip"; then
    ok "the zip holds exactly $(unzip -Z1 "$work/release.zip" | tr '\n' ' ')with CR LF text files"
  else
    bad "the zip is not as released"
  fi
fi

# A first installation, by a double click in the unpacked folder.
unpack "vba Tessary (1)"
run install "$downloads/vba Tessary (1)" cmd "$windownloads\\vba Tessary (1)\\install.cmd"
if succeeded install; then
  says install "vba Tessary: installed."
  has x86 && says install "32-bit Office: registered \"$windest\\x86\\vbatessary.dll\""
  has x64 && says install "64-bit Office: registered \"$windest\\x64\\vbatessary.dll\""
  [ "$arch" = win64 ] && ! has x86 && says install "32-bit Office: skipped, this Windows runs no 32-bit programs"
  [ "$arch" = win32 ] && says install "64-bit Office: not on 32-bit Windows"
  says install 'select "vba Tessary Ver. 1.01"' && ok "install.cmd: one line a bitness and what to do next"
fi
installed "installed"
"$wine" reg add "$settings" /v DisplayOnConnect /d 1 /f </dev/null >/dev/null 2>&1

# An update whose last DLL cannot be registered: it says where it failed and puts back the earlier
# installation, files and registration.
last=${halves##* }
unpack broken
printf 'not a DLL\r\n' >"$downloads/broken/$last/vbatessary.dll"
run broken "$root" cmd "$windownloads\\broken\\install.cmd"
if failed broken; then
  says broken "install.cmd: failed while registering the $(bits_of "$last")-bit add-in" &&
    says broken "The earlier installation is as it was." && ok "a failed update names its step and exits $rc"
fi
installed "after the failed update"

# A package without its DLLs (install.cmd run from inside the zip): refused, nothing touched.
mkdir -p "$downloads/alone"
cp "$packaging/install.cmd" "$downloads/alone/"
run alone "$downloads/alone" cmd "$windownloads\\alone\\install.cmd"
failed alone && says alone "the package is incomplete" && ok "install.cmd alone: refused, exit $rc"
installed "after the incomplete package"

# The update, from a 32-bit command prompt where there is one: the 64-bit regsvr32 is reached
# through Sysnative.
shell=cmd
has x86 && [ "$arch" = win64 ] && shell='C:\windows\syswow64\cmd.exe'
unpack "vba Tessary"
run update "$root" "$shell" "$windownloads\\vba Tessary\\install.cmd"
succeeded update && says update "vba Tessary: updated." && ok "install.cmd again ($shell): updated in place"
installed "updated"

# The download can go: the add-in is created from the installed file, by its program id.
rm -rf "$downloads"
cp "$here/create.js" "$root/create.js"
for h in $halves; do
  if [ "$h" = x86 ] && [ "$arch" = win64 ]; then
    # Wine's one class key points at the x64 DLL: the 32-bit process needs it at its own.
    "$wine" "$regsvr32_x86" /s "$windest\\x86\\vbatessary.dll" </dev/null >/dev/null 2>&1
    engine=$cscript_x86
  elif [ "$h" = x86 ]; then
    engine=$cscript_x86
  else
    # The same for x64 after the x86 half took the key.
    "$wine" regsvr32 /s "$windest\\x64\\vbatessary.dll" </dev/null >/dev/null 2>&1
    engine=cscript
  fi
  machine_copies make
  "$wine" "$engine" "$winroot\\create.js" </dev/null >"$work/create.raw" 2>&1
  crc=$?
  machine_copies delete
  created=$(tr -d '\r' <"$work/create.raw")
  if [ $crc -eq 0 ] && [ "$created" = "created; FormDisplayed=false" ]; then
    ok "$h: created through COM by \"$progid\" from $windest\\$h (download deleted)"
  else
    bad "$h: not created through COM: status $crc, \"$created\""
  fi
done

# uninstall.cmd from the zip kept for it: nothing of the add-in stays but the user's setting.
unpack kept
run uninstall "$downloads/kept" cmd "$windownloads\\kept\\uninstall.cmd"
if succeeded uninstall && says uninstall "vba Tessary: removed"; then
  has x86 && says uninstall "32-bit Office: unregistered"
  has x64 && says uninstall "64-bit Office: unregistered"
  says uninstall "setting DisplayOnConnect: kept"
fi
[ -e "$dest" ] && bad "uninstall: $dest is still there"
[ "$(value "$settings" DisplayOnConnect)" = 1 ] || bad "uninstall: the setting DisplayOnConnect went"
left=$(registry | grep -v -F -e "[HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\vbatessary" )
if [ "$left" = "$baseline" ] && [ ! -e "$dest" ]; then
  ok "uninstall.cmd: nothing of the add-in left in the registry or on disk, the setting kept"
else
  bad "uninstall.cmd left:"
  printf '%s\n' "$left" | sed 's/^/  | /'
fi

run again "$root" cmd "$windownloads\\kept\\uninstall.cmd"
succeeded again && says again "nothing to remove" && says again "/all removes it" &&
  ok "uninstall.cmd again: nothing to remove"

run all "$root" cmd "$windownloads\\kept\\uninstall.cmd" /all
succeeded all && says all "setting DisplayOnConnect: removed"
if [ "$(registry)" = "$baseline" ]; then ok "uninstall.cmd /all: the setting went too"; else bad "uninstall.cmd /all left: $(registry)"; fi
run all-again "$root" cmd "$windownloads\\kept\\uninstall.cmd" /all
succeeded all-again && says all-again "nothing to remove" && ok "uninstall.cmd /all again: nothing to remove"

# Elevated. Wine's whoami ignores /groups and so cannot show an elevated token: a whoami.exe that
# prints an administrator's groups stands in for it, with the label the test asks for.
cp "$system32/whoami.exe" "$work/whoami.exe"
cp "$elevated_whoami" "$system32/whoami.exe"
overrides=$WINEDLLOVERRIDES
WINEDLLOVERRIDES="$WINEDLLOVERRIDES;whoami.exe=n"
export TESSARY_INTEGRITY=high
run elevated "$downloads/kept" cmd "$windownloads\\kept\\install.cmd"
if failed elevated && says elevated "install.cmd: refused: this command prompt runs elevated"; then
  if [ -e "$dest" ] || exists "HKCU\\Software\\Microsoft\\VBA\\VBE\\6.0\\$(list_of "$last")\\$progid"; then
    bad "elevated: refused, but something was installed"
  else
    ok "install.cmd elevated (High label S-1-16-12288): refused with its reason, exit $rc, nothing installed"
  fi
fi
TESSARY_INTEGRITY=medium
run medium "$downloads/kept" cmd "$windownloads\\kept\\install.cmd"
succeeded medium && says medium "vba Tessary: installed." && ok "install.cmd by an administrator, not elevated (Medium label): installed"
TESSARY_INTEGRITY=high
run elevated-uninstall "$downloads/kept" cmd "$windownloads\\kept\\uninstall.cmd"
failed elevated-uninstall && says elevated-uninstall "uninstall.cmd: refused: this command prompt runs elevated" &&
  [ -f "$dest/$last/vbatessary.dll" ] && ok "uninstall.cmd elevated: refused, the installation kept"
TESSARY_INTEGRITY=medium
run medium-uninstall "$downloads/kept" cmd "$windownloads\\kept\\uninstall.cmd" /all
succeeded medium-uninstall && says medium-uninstall "vba Tessary: removed"
if [ "$(registry)" = "$baseline" ] && [ ! -e "$dest" ]; then ok "uninstalled again: nothing left"; else bad "left after the last uninstall: $(registry)"; fi
cp "$work/whoami.exe" "$system32/whoami.exe"
rm "$work/whoami.exe"
WINEDLLOVERRIDES=$overrides
unset TESSARY_INTEGRITY

# The installed folder deleted by hand: uninstall.cmd takes the keys that point into it, without the
# DLLs to unregister them. Windows keeps the type library per user, where uninstall.cmd removes it
# too; Wine keeps it machine-wide, and the test takes that part away itself.
run orphan-install "$downloads/kept" cmd "$windownloads\\kept\\install.cmd"
succeeded orphan-install
rm -rf "$dest"
run orphan "$downloads/kept" cmd "$windownloads\\kept\\uninstall.cmd"
if succeeded orphan && says orphan "vba Tessary: removed"; then
  for h in $halves; do says orphan "$(bits_of $h)-bit Office: unregistered"; done
  left=$(registry | grep -v -F -e "HKLM\\Software\\Classes\\TypeLib\\$libid " -e "HKLM\\Software\\Classes\\Interface\\$iid ")
  if [ "$left" = "$baseline" ]; then
    ok "uninstall.cmd after the folder was deleted by hand: the per-user keys are gone"
  else
    bad "uninstall.cmd after the folder was deleted by hand left:"
    printf '%s\n' "$left" | sed 's/^/  | /'
  fi
fi
for view in /reg:32 /reg:64; do
  [ "$arch" = win32 ] && [ $view = /reg:64 ] && continue
  "$wine" reg delete "HKLM\\Software\\Classes\\TypeLib\\$libid" /f $view </dev/null >/dev/null 2>&1
  "$wine" reg delete "HKLM\\Software\\Classes\\Interface\\$iid" /f $view </dev/null >/dev/null 2>&1
done
[ "$(registry)" = "$baseline" ] || bad "left at the end: $(registry)"

exit $status
