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
#             RegisterProduct (where the properties they set are written)
#   names     files, folders and shortcuts carry a valid short name ("short|long" where the long
#             one is not 8.3)
#   version   a file with a version resource has that version (and its language) in File and no
#             MsiFileHash row; one without has no version
#   arp       ARPREADME, ARPINSTALLLOCATION and ARPPRODUCTICON (an Icon row) are set; no per-machine
#             rows or ALLUSERS in the per-user package
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
  InstallUISequence Directory Shortcut Icon MsiFileHash; do
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
awk -F'\t' '
  FILENAME == "CustomAction" { type[$1] = $2; order[++n] = $1; next }
  FILENAME == "InstallExecuteSequence" { at[$1] = $3 }
  END {
    for (i = 1; i <= n; i++) {
      a = order[i]
      if (int(type[a] / 2048) % 2) print "action: " a " does not impersonate (type " type[a] ", msidbCustomActionTypeNoImpersonate)"
      if (!(a in at) || at[a] !~ /^[0-9]+$/) print "action: " a " has no sequence number in InstallExecuteSequence"
      else if (at[a] + 0 <= at["CostFinalize"] + 0 || at[a] + 0 >= at["RegisterProduct"] + 0)
        print "action: " a " at " at[a] ", not between CostFinalize (" at["CostFinalize"] ") and RegisterProduct (" at["RegisterProduct"] ")"
    }
  }' CustomAction InstallExecuteSequence | report

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
  function path(d,   t) { t = long(dir[d]); sub(/:.*/, "", t); return (parent[d] == "" || parent[d] == d) ? "" : path(parent[d]) (t == "." ? "" : t "/") }
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
[ -z "$(property ALLUSERS)" ] || broken arp "ALLUSERS is set in a per-user package"
awk -F'\t' '$2 != 1 { print "arp: the registry row " $1 " is not per user (root " $2 ")" }' Registry | report

[ ! -e "$tables/broken" ]
