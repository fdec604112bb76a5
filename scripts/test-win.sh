#!/bin/sh
# Builds vbatessary.dll for 32 and 64 bit with mingw-w64 and runs its tests under Wine.
# Installs what is missing on a Debian machine first (needs root for that part only).
set -eu
cd "$(dirname "$0")/.."

packages="cmake make g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools libwine-dev wine wine32:i386 wine64"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "installing:$missing"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $missing
fi

for preset in win32 win64; do
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
