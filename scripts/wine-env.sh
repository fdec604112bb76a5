#!/bin/sh
# The private Wine prefix of a build tree: created once (null graphics driver, so windows, message
# boxes and keystrokes work without an X server), stopped after a test run. Touches no other prefix.
# usage: wine-env.sh init <prefix> win32|win64
#        wine-env.sh stop <prefix>
set -eu
cmd=$1
prefix=$2
. "$(dirname "$0")/wine-common.sh"

case $cmd in
init)
  [ -f "$prefix/.tessary-ready" ] && exit 0
  rm -rf "$prefix"
  export WINEARCH="$3"
  wine_use "$prefix" "$3"
  log="$prefix/setup.log"
  "$wine" wineboot -i >"$log" 2>&1 </dev/null
  "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >>"$log" 2>&1 </dev/null
  wineserver -w
  touch "$prefix/.tessary-ready"
  ;;
stop)
  if [ -d "$prefix" ]; then
    wine_use "$prefix"
    wineserver -k 2>/dev/null || true
  fi
  ;;
*)
  echo "usage: $0 init <prefix> win32|win64 | stop <prefix>" >&2
  exit 2
  ;;
esac
