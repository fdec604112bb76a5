# Shared by the Wine scripts: the environment of a private prefix and the loader for its bitness.
# Debian's /usr/bin/wine takes the 32-bit loader whenever wine32 is installed, and that loader
# cannot start where the kernel runs no 32-bit programs; a 64-bit prefix therefore always gets the
# 64-bit loader, with WINELOADER pointing at it for the processes Wine starts itself.
# usage: . wine-common.sh; wine_use <prefix> [win32|win64]  (then run "$wine" <program> ...)
wine_use() {
  mkdir -p "$1"
  WINEPREFIX=$(cd "$1" && pwd)  # Wine wants it absolute
  export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  arch=${2:-}
  # Wine records a prefix's bitness in its system registry file.
  [ -n "$arch" ] || arch=$(sed -n 's/^#arch=//p' "$WINEPREFIX/system.reg" 2>/dev/null)
  case $arch in
  win32) wine=/usr/lib/wine/wine ;;
  *) wine=/usr/lib/wine/wine64 ;;
  esac
  if [ -x "$wine" ]; then
    export WINELOADER="$wine"
  else
    wine=wine  # not Debian's layout: its own launcher decides
  fi
}
