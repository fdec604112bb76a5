#!/usr/bin/env bash
# The package step against a private archive that is out of step with itself, as a mirror is while
# it syncs: the security suite's second index is served with a size its Release does not list, so
# apt-get update fails on it, and the newer package of that suite then needs a package that only the
# missing index has. The step must go on past the update with a one-line notice, and install through
# the release suite. apt only simulates; the machine's own sources and state are never touched.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/lib.sh
as_root() { "$@"; }
APT_RETRY_PAUSE=0

codename=$(release_codename)
[ -n "$codename" ] || { echo "packages_test: no VERSION_CODENAME in os-release" >&2; exit 1; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
repo=$dir/repo
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# index <suite> <component> <stanza>...: writes one Packages index.
index() {
  local file=$repo/dists/$1/$2/binary-amd64/Packages
  shift 2
  mkdir -p "$(dirname "$file")"
  printf '%s\n\n' "$@" >"$file"
}
# release <suite> <size skew of the last component> <component>...: a Release listing the indexes.
release() {
  local suite=$1 skew=$2 c size
  shift 2
  {
    printf 'Suite: %s\nCodename: %s\nDate: Thu, 01 Jan 2026 00:00:00 UTC\nArchitectures: amd64\nComponents: %s\nSHA256:\n' "$suite" "$suite" "$*"
    for c in "$@"; do
      size=$(wc -c <"$repo/dists/$suite/$c/binary-amd64/Packages")
      [ "$c" = "${!#}" ] && size=$((size + skew))
      printf ' %s %s %s/binary-amd64/Packages\n' \
        "$(sha256sum "$repo/dists/$suite/$c/binary-amd64/Packages" | cut -d' ' -f1)" "$size" "$c"
    done
  } >"$repo/dists/$suite/Release"
}
# stanza <package> <version> [<field line>]
stanza() { printf 'Package: %s\nVersion: %s\nArchitecture: amd64\nFilename: pool/%s_%s.deb\nSize: 1\nDescription: test%s' "$1" "$2" "$1" "$2" "${3:+$'\n'$3}"; }

index "$codename" main "$(stanza tessary-probe 1)" "$(stanza tessary-zlib 1)"
release "$codename" 0 main
index "$codename-security" main "$(stanza tessary-probe 2 'Depends: tessary-zlib (= 2)')"
index "$codename-security" extra "$(stanza tessary-zlib 2)"

mkdir -p "$dir/etc/sources.list.d" "$dir/etc/preferences.d" "$dir/cache/archives/partial"
: >"$dir/status"
: >"$dir/etc/preferences"
# sources <security components>: the private source list, from scratch lists when asked.
sources() {
  printf 'deb [trusted=yes] copy:%s %s main\ndeb [trusted=yes] copy:%s %s-security %s\n' \
    "$repo" "$codename" "$repo" "$codename" "$1" >"$dir/etc/sources.list"
}
fresh_lists() { rm -rf "$dir/lists" && mkdir -p "$dir/lists/partial"; }
APT_OPTIONS=(-o "Dir::Etc::SourceList=$dir/etc/sources.list" -o "Dir::Etc::SourceParts=$dir/etc/sources.list.d"
  -o "Dir::Etc::Preferences=$dir/etc/preferences" -o "Dir::Etc::PreferencesParts=$dir/etc/preferences.d"
  -o "Dir::State::Lists=$dir/lists" -o "Dir::State::status=$dir/status" -o "Dir::Cache=$dir/cache"
  -o "APT::Architectures=amd64" -o "APT::Architecture=amd64" -o "APT::Sandbox::User=root"
  -o "APT::Get::Simulate=true" -o "Debug::NoLocking=true" -o "APT::Default-Release=")

# An archive in step: no notice, the plain install resolves.
sources "main extra"
fresh_lists
release "$codename-security" 0 main extra
out=$(apt_update 2>&1) || fail "apt_update failed on an archive in step"
[ -z "$out" ] || fail "apt_update said something on an archive in step: $out"
out=$(apt_install tessary-probe 2>&1) || fail "apt_install failed on an archive in step: $out"
[ -z "$out" ] || fail "apt_install said something on an archive in step: $out"

# Out of step, as a new machine meets it: its lists were fetched before the second index was asked
# for (the image's, before i386 was added), and that index now comes with an unexpected size. apt
# keeps the suite's old lists, whose newer package needs what only the missing index has.
sources main
fresh_lists
release "$codename-security" 0 main
apt-get "${APT_OPTIONS[@]}" -qq update >/dev/null 2>&1 || fail "the archive's first state does not update"
sources "main extra"
release "$codename-security" 17 main extra
if apt-get "${APT_OPTIONS[@]}" -qq update >/dev/null 2>&1; then
  fail "the broken archive does not make apt-get update fail; the test shows nothing"
fi
out=$(apt_update 2>&1) || fail "apt_update stopped the step on a failed index"
[ "$(printf '%s\n' "$out" | wc -l)" -eq 1 ] || fail "apt_update should say one line, said: $out"
case $out in
*"$codename-security/extra/binary-amd64/Packages"*) ;;
*) fail "apt_update's notice does not name the failed index: $out" ;;
esac

if apt-get "${APT_OPTIONS[@]}" -qq install tessary-probe >/dev/null 2>&1; then
  fail "the plain install resolves on the broken archive; the test shows nothing"
fi
out=$(apt_install tessary-probe 2>&1) || fail "apt_install failed where the release suite resolves: $out"
case $out in
*"trying again with the release suite $codename preferred"*"installed with the release suite $codename preferred"*) ;;
*) fail "apt_install did not say it took the release suite: $out" ;;
esac

# A package neither way has: the step fails, with apt's reason.
if out=$(apt_install tessary-nowhere 2>&1); then
  fail "apt_install succeeded for a package no suite has"
fi
case $out in
*"Unable to locate package tessary-nowhere"*) ;;
*) fail "apt_install's failure does not give apt's reason: $out" ;;
esac

[ "$failures" -eq 0 ] || { echo "packages_test: $failures failed" >&2; exit 1; }
echo "packages_test: all passed"
