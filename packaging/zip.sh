#!/bin/sh
# The release zip: x86/ and x64/, each with vbatessary.dll and vbatessary-check.exe, install.cmd,
# uninstall.cmd and README.txt, nothing else. Each program must be of its folder's machine, and the
# text files must have CR LF line ends. "check" looks at a zip already made, as a user's unzip
# would see it.
# usage: zip.sh make <out.zip> <32-bit vbatessary.dll> <64-bit vbatessary.dll>
#        (each DLL's vbatessary-check.exe is taken from beside it)
#        zip.sh check <zip>
set -eu
here=$(cd "$(dirname "$0")" && pwd)

fail() {
  echo "zip.sh: $*" >&2
  exit 1
}

# The machine field of a PE file's header: 14c (i386) or 8664 (x86-64).
machine() {
  pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  [ -n "$pe" ] || return 0
  od -An -tx2 -j$((pe + 4)) -N2 "$1" | tr -d ' '
}

# Every line ends in CR LF, the last one too.
crlf_only() {
  [ -s "$1" ] || return 1
  [ "$(tail -c 1 "$1" | od -An -tx1 | tr -d ' ')" = 0a ] || return 1
  awk '{ if (substr($0, length($0)) != "\r" || index(substr($0, 1, length($0) - 1), "\r")) bad = 1 }
       END { exit bad }' "$1"
}

check() {
  zip=$1
  listing=$(unzip -Z1 "$zip" | LC_ALL=C sort | tr '\n' ' ')
  [ "$listing" = "README.txt install.cmd uninstall.cmd x64/vbatessary-check.exe x64/vbatessary.dll x86/vbatessary-check.exe x86/vbatessary.dll " ] ||
    fail "$zip holds: $listing"
  look=$(mktemp -d)
  unzip -q "$zip" -d "$look"
  bad=""
  for f in README.txt install.cmd uninstall.cmd; do
    crlf_only "$look/$f" || bad="$bad $f"
  done
  for f in vbatessary.dll vbatessary-check.exe; do
    [ "$(machine "$look/x86/$f")" = 014c ] || bad="$bad x86/$f(not i386)"
    [ "$(machine "$look/x64/$f")" = 8664 ] || bad="$bad x64/$f(not x86-64)"
  done
  rm -rf "$look"
  [ -z "$bad" ] || fail "$zip:$bad (text files need CR LF line ends; each program its folder's machine)"
}

case ${1:-} in
make)
  [ $# -eq 4 ] || fail "usage: zip.sh make <out.zip> <32-bit dll> <64-bit dll>"
  out=$2
  mkdir -p "$(dirname "$out")"
  out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
  stage=$(mktemp -d)
  trap 'rm -rf "$stage"' EXIT
  mkdir "$stage/x86" "$stage/x64"
  cp "$3" "$stage/x86/vbatessary.dll"
  cp "$4" "$stage/x64/vbatessary.dll"
  cp "$(dirname "$3")/vbatessary-check.exe" "$stage/x86/" || fail "no vbatessary-check.exe beside $3"
  cp "$(dirname "$4")/vbatessary-check.exe" "$stage/x64/" || fail "no vbatessary-check.exe beside $4"
  cp "$here/install.cmd" "$here/uninstall.cmd" "$here/README.txt" "$stage/"
  rm -f "$out"
  # No folder entries and no Unix extra fields: what Explorer's Extract All expects.
  (cd "$stage" && zip -q -X -D "$out" README.txt install.cmd uninstall.cmd x86/vbatessary.dll x86/vbatessary-check.exe \
    x64/vbatessary.dll x64/vbatessary-check.exe)
  check "$out"
  ;;
check)
  [ $# -eq 2 ] || fail "usage: zip.sh check <zip>"
  check "$2"
  ;;
*)
  fail "usage: zip.sh make <out.zip> <32-bit dll> <64-bit dll> | zip.sh check <zip>"
  ;;
esac
