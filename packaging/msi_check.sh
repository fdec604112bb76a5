#!/usr/bin/env bash
# Reads a built MSI's tables (msitools, no Windows Installer) and fails on each rule below, taken
# from Windows Installer's validation (ICE) rules and documented behaviour, that a package as wixl
# writes it on its own does not keep. One line per broken rule, named by the rule:
#   upgrade   every earlier build of the same upgrade code, the same version too, is replaced as a
#             major upgrade; a later version is found and stops the install with a message;
#             ProductVersion is <major>.<minor>.<build>
#   bitness   a 32-bit package refuses 64-bit Windows (launch condition on VersionNT64, pointing to
#             the x64 MSI); a 64-bit package holds both DLLs
#   writer    each registry value has one writer per registry view; in a package with both DLLs the
#             values both share are written by a component that installs no file
#   action    custom actions impersonate and sit at a sequence number after CostFinalize and before
#             RegisterProduct (where the properties they set are written); but per machine the
#             one that runs the installed checker at removal: deferred, only when REMOVE="ALL" and
#             not in an upgrade, before RemoveFiles
#   names     files, folders and shortcuts carry a valid short name ("short|long" where the long
#             one is not 8.3)
#   version   a file with a version resource has that version (and its language) in File and no
#             MsiFileHash row; one without has no version
#   arp       ARPREADME, ARPINSTALLLOCATION and ARPPRODUCTICON (an Icon row) are set
#   scope     a per-user package (files under LocalAppDataFolder) has no ALLUSERS, only HKCU rows
#             and the summary's "no elevation" bit (Word Count 8); a per-machine one (files under
#             Program Files) has ALLUSERS 1, no HKCU rows, no add-in record (the editor reads HKCU
#             only) and that bit clear
#   folder    per machine, each component's bitness agrees with its folder (ProgramFiles64Folder
#             64-bit, ProgramFilesFolder 32-bit) and a component naming a DLL's path has its bitness
#   setup     per machine, the Active Setup entry: its name, a StubPath running the windowless
#             checker with --enable-user, Version the ProductVersion with commas, IsInstalled 1, in
#             the native view; installing removes the entry an earlier removal left behind
# usage: msi_check.sh <msi>
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[ $# -eq 1 ] && [ -f "$1" ] || { echo "usage: msi_check.sh <msi>" >&2; exit 2; }
msi=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
command -v msiinfo >/dev/null || { echo "msi_check.sh: msiinfo is not installed (Debian package msitools)" >&2; exit 2; }

# Each broken rule leaves a mark, also from the subshell at the end of a pipe.
broken() {
  echo "$(basename "$msi"): $1: $2"
  : >"$tables/broken"
}
# Lines "<rule>: <what>" as broken rules.
report() {
  while IFS= read -r line; do broken "${line%%: *}" "${line#*: }"; done
}
# Each table's rows, tab-separated, without the three header lines (empty for a missing table).
tables=$(mktemp -d)
trap 'rm -rf "$tables"' EXIT
# msiinfo export writes a table's binary columns (the icons) into a folder named after the table in
# the working directory: the rows go to a folder of their own.
mkdir "$tables/rows"
cd "$tables"
for t in Property Upgrade LaunchCondition File Component Registry CustomAction InstallExecuteSequence \
  InstallUISequence Directory Shortcut Icon MsiFileHash RemoveRegistry; do
  # A value with line ends spans lines: a row is complete when it has all its columns.
  msiinfo export "$msi" "$t" 2>/dev/null | tr -d '\r' | awk -F'\t' 'NR == 1 { n = NF } NR <= 3 { next }
    { row = row == "" ? $0 : row " " $0; if (split(row, f, "\t") >= n) { print row; row = "" } }' >"rows/$t"
done
cd rows
property() { awk -F'\t' -v p="$1" '$1 == p { print $2 }' Property; }

version=$(property ProductVersion)
upgradeCode=$(property UpgradeCode)
template=$(msiinfo suminfo "$msi" | sed -n 's/^Template: //p')
secure=$(property SecureCustomProperties)
# Per machine when files go under Program Files, per user under LocalAppDataFolder.
if grep -q '^ProgramFiles\(64\)\?Folder	' Directory; then scope=machine; else scope=user; fi

# upgrade
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || broken upgrade "ProductVersion \"$version\" is not <major>.<minor>.<build>"
# Upgrade columns: UpgradeCode, VersionMin, VersionMax, Language, Attributes, Remove, ActionProperty.
replaces=$(awk -F'\t' -v u="$upgradeCode" -v v="$version" \
  '$1 == u && $3 == v && int($5 / 2) % 2 == 0 && int($5 / 512) % 2 == 1 { print $7 }' Upgrade)
[ -n "$replaces" ] || broken upgrade "no Upgrade row replaces the same version $version (VersionMax inclusive, not OnlyDetect)"
newer=$(awk -F'\t' -v u="$upgradeCode" -v v="$version" \
  '$1 == u && $2 == v && int($5 / 2) % 2 == 1 && int($5 / 256) % 2 == 0 { print $7 }' Upgrade)
if [ -z "$newer" ]; then
  broken upgrade "no Upgrade row detects a later version (VersionMin $version exclusive, OnlyDetect)"
elif ! awk -F'\t' -v p="$newer" '$1 ~ "(^|[ (])NOT " p "($|[ )])" && $2 != "" { found = 1 } END { exit !found }' LaunchCondition; then
  broken upgrade "no launch condition with a message stops the install when $newer (a later version) is found"
fi
for p in $replaces $newer; do
  [[ ";$secure;" == *";$p;"* ]] || broken upgrade "$p is not in SecureCustomProperties"
done
grep -q '^RemoveExistingProducts	' InstallExecuteSequence || broken upgrade "RemoveExistingProducts is not sequenced"

# bitness: the bitness of each component holding a vbatessary.dll (Component.Attributes bit 256).
dllBits=$(awk -F'\t' 'FILENAME == "Component" { bits[$1] = int($4 / 256) % 2 ? 64 : 32; next }
                      $3 ~ /(^|\|)vbatessary\.dll$/ { print bits[$2] }' Component File | sort -u | tr '\n' ' ')
case $template in
Intel*)
  awk -F'\t' '$1 ~ /NOT VersionNT64/ && $2 ~ /x64\.msi/ { found = 1 } END { exit !found }' LaunchCondition ||
    broken bitness "a 32-bit package without a launch condition on VersionNT64 that names the x64 MSI"
  ;;
x64*) [ "$dllBits" = "32 64 " ] || broken bitness "a 64-bit package without both DLLs (it has: ${dllBits:-none})" ;;
*) broken bitness "unknown platform in the template \"$template\"" ;;
esac

# writer: keys under Classes\CLSID and Classes\Interface are redirected per view on 64-bit Windows;
# every other key is one key to both views. Registry columns: Registry, Root, Key, Name, Value,
# Component_.
awk -F'\t' -v both="$([ "$dllBits" = "32 64 " ] && echo 1)" '
  FILENAME == "Component" { bits[$1] = int($4 / 256) % 2 ? 64 : 32; next }
  FILENAME == "File" { hasFile[$2] = 1; next }
  {
    key = tolower($3)
    view = key ~ /^software\\classes\\(wow6432node\\)?(clsid|interface)\\/ ? bits[$6] : "shared"
    id = $2 "|" key "|" tolower($4) "|" view
    if (index(writers[id], " " $6 " ") == 0) { writers[id] = writers[id] " " $6 " "; count[id]++ }
    # The win32 and win64 entries of a type library belong each to one bitness.
    if (both && view == "shared" && key ~ /^software\\classes\\/ && key !~ /\\win(32|64)$/ && hasFile[$6])
      print "writer: " $3 "|" $4 ", which both DLLs share, is written by " $6 ", a component with files"
  }
  END { for (id in count) if (count[id] > 1) print "writer: " id " has " count[id] " writers:" writers[id] }' \
  Component File Registry | report

# action: CustomAction columns Action, Type, Source, Target; sequence columns Action, Condition,
# Sequence.
awk -F'\t' -v scope="$scope" '
  FILENAME == "CustomAction" { type[$1] = $2; source[$1] = $3; order[++n] = $1; next }
  FILENAME == "File" { file[$1] = 1; next }
  FILENAME == "InstallExecuteSequence" { at[$1] = $3; cond[$1] = $2 }
  END {
    for (i = 1; i <= n; i++) {
      a = order[i]
      deferred = int(type[a] / 1024) % 2
      # The per-machine removal: an installed file run deferred, as the service, at removal only.
      if (scope == "machine" && deferred && type[a] % 64 == 18 && file[source[a]]) {
        if (cond[a] !~ /REMOVE="ALL"/ || cond[a] !~ /NOT UPGRADINGPRODUCTCODE/)
          print "action: " a " runs at every install, not only at removal (condition \"" cond[a] "\")"
        if (!(at[a] + 0 > at["InstallInitialize"] + 0 && at[a] + 0 < at["RemoveFiles"] + 0))
          print "action: " a " at " at[a] ", not between InstallInitialize and RemoveFiles (its file is gone)"
        continue
      }
      if (int(type[a] / 2048) % 2) print "action: " a " does not impersonate (type " type[a] ", msidbCustomActionTypeNoImpersonate)"
      if (!(a in at) || at[a] !~ /^[0-9]+$/) print "action: " a " has no sequence number in InstallExecuteSequence"
      else if (at[a] + 0 <= at["CostFinalize"] + 0 || at[a] + 0 >= at["RegisterProduct"] + 0)
        print "action: " a " at " at[a] ", not between CostFinalize (" at["CostFinalize"] ") and RegisterProduct (" at["RegisterProduct"] ")"
    }
  }' CustomAction File InstallExecuteSequence | report

# names: a Filename is 8.3 or "short|long"; a DefaultDir is "target[:source]", each such a name.
awk -F'\t' '
  # mawk has no {m,n}: the lengths are counted.
  function short(s,   n, p) {
    if (s ~ /[\\?|><:\/*"+,;=\[\] ]/) return 0
    n = split(s, p, ".")
    return n <= 2 && length(p[1]) >= 1 && length(p[1]) <= 8 && (n == 1 || (length(p[2]) >= 1 && length(p[2]) <= 3))
  }
  function check(what, name,   n, part) {
    n = split(name, part, "|")
    if (name == "." || name == "SourceDir" || name == "SOURCEDIR") return
    if ((n == 1 && !short(part[1])) || n > 2 || (n == 2 && !short(part[1])))
      print "names: " what " \"" name "\" has no valid short name"
  }
  FILENAME == "File" { check("the file " $1, $3) }
  FILENAME == "Directory" { split($3, side, ":"); check("the folder " $1, side[1]); if (side[2] != "") check("the folder " $1, side[2]) }
  FILENAME == "Shortcut" { check("the shortcut " $1, $3) }' File Directory Shortcut | report

# version: the files as the cabinet holds them, each at the path its folders give it.
files=$(mktemp -d)
msiextract -C "$files" "$msi" >/dev/null 2>&1 || broken version "msiextract could not unpack the cabinet"
awk -F'\t' '
  function long(s,   n, p) { n = split(s, p, "|"); return p[n] }
  # msiextract puts ProgramFilesFolder at "Program Files" and every other system folder at the top.
  function path(d,   t) {
    if (d == "ProgramFilesFolder") return "Program Files/"
    t = long(dir[d]); sub(/:.*/, "", t); return (parent[d] == "" || parent[d] == d) ? "" : path(parent[d]) (t == "." ? "" : t "/")
  }
  FILENAME == "Directory" { parent[$1] = $2; dir[$1] = $3; next }
  FILENAME == "Component" { home[$1] = $3; next }
  { print $1 "|" path(home[$2]) long($3) "|" $5 "|" $6 }' Directory Component File |
  while IFS='|' read -r id path fileVersion lang; do
    if [ ! -f "$files/$path" ]; then
      echo "version: $id is not in the cabinet at $path"
      continue
    fi
    read -r want wantLang <<<"$(bash "$here/msi.sh" file-version "$files/$path")"
    hashed=$(awk -F'\t' -v f="$id" '$1 == f' MsiFileHash)
    if [ -n "${want:-}" ]; then
      [ "$fileVersion" = "$want" ] && [ "$lang" = "$wantLang" ] ||
        echo "version: $id has File.Version \"$fileVersion\" (language \"$lang\"); its version resource says $want ($wantLang)"
      [ -z "$hashed" ] || echo "version: $id has a version and a MsiFileHash row"
    elif [ -n "$fileVersion" ]; then
      echo "version: $id has File.Version \"$fileVersion\" but no version resource"
    fi
  done | report
rm -rf "$files"

# arp
for p in ARPREADME ARPINSTALLLOCATION; do
  [ -n "$(property $p)" ] || awk -F'\t' -v p="$p" '$3 == p && $2 % 64 == 51 { found = 1 } END { exit !found }' CustomAction ||
    broken arp "$p is neither a property nor set by a set-property action"
done
icon=$(property ARPPRODUCTICON)
[ -n "$icon" ] && awk -F'\t' -v i="$icon" '$1 == i { found = 1 } END { exit !found }' Icon ||
  broken arp "ARPPRODUCTICON \"$icon\" names no row of the Icon table"

# scope: the summary's Word Count is msiinfo's "Source"; bit 8 says no elevation is needed.
wordCount=$(msiinfo suminfo "$msi" | sed -n 's/^Source: \([0-9]*\).*/\1/p')
if [ "$scope" = user ]; then
  [ -z "$(property ALLUSERS)" ] || broken scope "ALLUSERS is set in a per-user package"
  awk -F'\t' '$2 != 1 { print "scope: the registry row " $1 " is not per user (root " $2 ")" }' Registry | report
  [ $((${wordCount:-0} & 8)) -eq 8 ] || broken scope "Word Count ${wordCount:-none} asks for elevation in a per-user package (bit 8 clear)"
else
  [ "$(property ALLUSERS)" = 1 ] || broken scope "ALLUSERS is \"$(property ALLUSERS)\", not 1, in a per-machine package"
  awk -F'\t' '$2 == 1 || $2 == -1 { print "scope: the registry row " $1 " (" $3 ") is per user in a per-machine package" }
    tolower($3) ~ /\\vba\\vbe\\/ { print "scope: the registry row " $1 " writes an add-in record (" $3 "), which the editor never reads from HKLM" }' Registry | report
  [ $((${wordCount:-8} & 8)) -eq 0 ] || broken scope "Word Count ${wordCount:-none} says no elevation is needed in a per-machine package (bit 8 set)"
fi

if [ "$scope" = machine ]; then
  # folder: Directory columns Directory, Directory_Parent, DefaultDir; Component columns Component,
  # ComponentId, Directory_, Attributes.
  awk -F'\t' '
    function root(d) { return (d == "" || parent[d] == "" || parent[d] == d || d ~ /^ProgramFiles(64)?Folder$/) ? d : root(parent[d]) }
    FILENAME == "Directory" { parent[$1] = $2; next }
    FILENAME == "Component" { bits[$1] = int($4 / 256) % 2 ? 64 : 32; dir[$1] = $3; next }
    FILENAME == "File" { owner[$1] = $2; next }
    {
      # A registry value naming a DLL ([#File]) is in the view of that DLL.
      if (match($5, /\[#[A-Za-z0-9_.]*\]/)) {
        f = substr($5, RSTART + 2, RLENGTH - 3)
        if (f in owner && $3 ~ /CLSID|Interface|TypeLib/ && bits[owner[f]] != bits[$6])
          print "folder: the registry row " $1 " names the " bits[owner[f]] "-bit " f " from the " bits[$6] "-bit component " $6
      }
    }
    END {
      for (c in bits) {
        r = root(dir[c])
        if (r == "ProgramFiles64Folder" && bits[c] != 64) print "folder: the 32-bit component " c " is under ProgramFiles64Folder"
        if (r == "ProgramFilesFolder" && bits[c] != 32) print "folder: the 64-bit component " c " is under ProgramFilesFolder"
      }
    }' Directory Component File Registry | report

  # setup: Registry columns Registry, Root, Key, Name, Value, Component_.
  want=${version//./,}
  awk -F'\t' -v want="$want" -v x64="$([[ $template == x64* ]] && echo 1)" '
    FILENAME == "Component" { bits[$1] = int($4 / 256) % 2 ? 64 : 32; next }
    FILENAME == "RemoveRegistry" { if ($2 == 2 && $4 == "-" && $3 ~ /^SOFTWARE\\Microsoft\\Active Setup\\Installed Components\\/) removes = 1; next }
    $2 == 2 && $3 ~ /^SOFTWARE\\Microsoft\\Active Setup\\Installed Components\\\{[-0-9A-F]*\}$/ {
      key = $3; value[$4] = $5; component = $6
    }
    END {
      if (key == "") { print "setup: no Active Setup entry under HKLM\\SOFTWARE\\Microsoft\\Active Setup\\Installed Components"; exit }
      if (value[""] == "") print "setup: the entry has no name (its default value)"
      if (value["StubPath"] !~ /^"\[#Checkw[a-z0-9]*\]" --enable-user$/) print "setup: StubPath \"" value["StubPath"] "\" does not run the windowless checker with --enable-user"
      if (value["Version"] != want) print "setup: Version \"" value["Version"] "\", not the ProductVersion with commas (" want ")"
      if (value["IsInstalled"] != "#1") print "setup: IsInstalled \"" value["IsInstalled"] "\", not the DWORD 1"
      if ((x64 && bits[component] != 64) || (!x64 && bits[component] != 32)) print "setup: the entry is not in the native registry view (component " component ")"
      if (!removes) print "setup: installing leaves the Active Setup entry of an earlier removal in place"
    }' Component RemoveRegistry Registry | report
fi

[ ! -e "$tables/broken" ]
