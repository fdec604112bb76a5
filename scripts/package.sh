#!/usr/bin/env bash
# The release a VBA programmer installs in one step: builds both DLLs as the win32 and win64
# presets give them, in build trees of its own (build/package/win32 and win64), and writes
# into build/package, with the version of the build (CMakeLists.txt) and a build number:
# vbatessary-<version>.<build>-windows.zip (portable, install.cmd),
# vbatessary-<version>.<build>-x64.msi and -x86.msi (per-user installers),
# vbatessary-<version>.<build>-allusers-x64.msi and -allusers-x86.msi (per-machine, for IT).
# Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

need_packages "${PACKAGE_PACKAGES[@]}"

out=build/package
for preset in win32 win64; do
  echo "== $preset"
  cmake --preset "$preset" -B "$out/$preset" >/dev/null
  cmake --build "$out/$preset" --target vbatessary vbatessary-check vbatessary-checkw --parallel 2
done

# The version the build put into the DLLs' version resource.
version() { sed -n 's/^#define TESSARY_VERSION_TEXT "\(.*\)"$/\1/p' "$out/$1/win32/gen/version.h"; }
version=$(version win64)
[ -n "$version" ] && [ "$version" = "$(version win32)" ] || {
  echo "package.sh: no version, or two different ones, in $out/win*/win32/gen/version.h" >&2
  exit 1
}

# The build number: TESSARY_BUILD when given (a release number of its own), else the commit count of
# this tree. It is the third field of the MSIs' ProductVersion, so every build upgrades the one
# before it, and part of every file name of the release.
build=${TESSARY_BUILD:-$(git rev-list --count HEAD 2>/dev/null || true)}
[[ $build =~ ^[0-9]+$ ]] && [ "$build" -le 65535 ] || {
  echo "package.sh: no build number (0 to 65535): outside a git checkout set TESSARY_BUILD" >&2
  exit 1
}
release=$version.$build

# The DLLs and check programs as released: copied out of the build trees and signed there when a
# certificate is given (TESSARY_SIGN_PKCS12 and TESSARY_SIGN_PASSWORD_FILE), before anything packs
# them.
stage=$out/stage
rm -rf "$stage"
mkdir -p "$stage/x86" "$stage/x64"
for h in x86:win32 x64:win64; do
  for f in vbatessary.dll vbatessary-check.exe vbatessary-checkw.exe; do cp "$out/${h#*:}/win32/bin/$f" "$stage/${h%:*}/"; done
done
sh packaging/sign.sh "$stage"/x86/* "$stage"/x64/*

zip=$out/vbatessary-$release-windows.zip
sh packaging/zip.sh make "$zip" "$stage/x86/vbatessary.dll" "$stage/x64/vbatessary.dll"
unzip -l "$zip"

# The MSIs: x64 for 64-bit Windows (both DLLs, for 32- and 64-bit Office), x86 for 32-bit Windows;
# each per user, and for all users of a machine.
msis=()
for scope in "" allusers-; do
  msi64=$out/vbatessary-$release-${scope}x64.msi
  msi86=$out/vbatessary-$release-${scope}x86.msi
  bash packaging/msi.sh "$release" "${scope}x64" "$msi64" "$stage/x86/vbatessary.dll" "$stage/x64/vbatessary.dll"
  bash packaging/msi.sh "$release" "${scope}x86" "$msi86" "$stage/x86/vbatessary.dll"
  msis+=("$msi64" "$msi86")
done
sh packaging/sign.sh "${msis[@]}"
for f in "$zip" "${msis[@]}"; do echo "package: $f ($(wc -c <"$f") bytes)"; done
