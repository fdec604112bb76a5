#!/usr/bin/env bash
# The release a VBA programmer installs in one step: builds both DLLs as the win32 and win64
# presets give them, in build trees of its own (build/package/win32 and win64), and writes
# build/package/vbatessary-<version>-windows.zip with the version of the build (CMakeLists.txt).
# Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

need_packages "${PACKAGE_PACKAGES[@]}"

out=build/package
for preset in win32 win64; do
  echo "== $preset"
  cmake --preset "$preset" -B "$out/$preset" >/dev/null
  cmake --build "$out/$preset" --target vbatessary --parallel 2
done

# The version the build put into the DLLs' version resource.
version() { sed -n 's/^#define TESSARY_VERSION_TEXT "\(.*\)"$/\1/p' "$out/$1/win32/gen/version.h"; }
version=$(version win64)
[ -n "$version" ] && [ "$version" = "$(version win32)" ] || {
  echo "package.sh: no version, or two different ones, in $out/win*/win32/gen/version.h" >&2
  exit 1
}

zip=$out/vbatessary-$version-windows.zip
sh packaging/zip.sh make "$zip" "$out/win32/win32/bin/vbatessary.dll" "$out/win64/win32/bin/vbatessary.dll"
unzip -l "$zip"
echo "package: $zip ($(wc -c <"$zip") bytes)"
