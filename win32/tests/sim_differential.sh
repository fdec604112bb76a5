#!/bin/sh
# tessary-sim run on the same workspaces natively (the Windows build, core in-process) and through
# the real DLL under Wine: the --json outputs must be identical byte for byte. With a Linux build of
# tessary-sim, its outputs must be identical as well.
# usage: sim_differential.sh <wine prefix> <directory of tessary-sim.exe and vbatessary.dll>
#                            <examples directory> [<Linux tessary-sim>]
set -u
. "$(dirname "$0")/../../scripts/wine-common.sh"
wine_use "$1"
bin=$(cd "$2" && pwd)
examples=$(cd "$3" && pwd)
linux=${4:-}
if [ -n "$linux" ] && [ ! -x "$linux" ]; then
  echo "note: no Linux build of tessary-sim at $linux; the Linux build was not compared"
  linux=
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0

# run <name> <program and arguments...>: standard output to $work/<name>.out, error to .err.
run() {
  name=$1
  shift
  (cd "$bin" && "$@" >"$work/$name.out" 2>"$work/$name.err" </dev/null)
  rc=$?
  if [ $rc -ne 0 ] || [ ! -s "$work/$name.out" ] || [ -s "$work/$name.err" ]; then
    echo "FAIL $name: exit status $rc"
    sed 's/^/  stderr: /' "$work/$name.err" | head -20
    status=1
    return 1
  fi
  return 0
}

same() {
  if cmp -s "$work/$1.out" "$work/$2.out"; then
    echo "ok   $1 = $2 ($(wc -l <"$work/$1.out") commands)"
  else
    echo "FAIL $1 and $2 differ:"
    diff "$work/$1.out" "$work/$2.out" | head -20
    status=1
  fi
}

compare() {
  label=$1
  shift
  run "$label.native" "$wine" tessary-sim.exe --json "$@" || return
  run "$label.dll" "$wine" tessary-sim.exe --json --dll vbatessary.dll "$@" || return
  same "$label.native" "$label.dll"
  if [ -n "$linux" ]; then
    run "$label.linux" "$linux" --json "$@" && same "$label.linux" "$label.native"
  fi
}

compare sample
for ws in "$examples"/*.json; do
  compare "$(basename "$ws" .json)" --workspace "$ws"
done
# Beyond the tour: a second session in one run, moved buttons, every connect mode.
compare sessions connect click 1 move 1 6 click 6 disconnect connect 1 click "Open All Modules" disconnect \
  connect 2 disconnect connect 3 references disconnect
compare answers --workspace "$examples/powerpoint-unsaved.json" --answer yes connect click 6 disconnect

# With the log on, the same lines natively and through the DLL (which writes them to its file), but
# for how long each step took.
logged() {
  label=$1
  shift
  run "$label.native" "$wine" tessary-sim.exe --json --log "$@" || return
  run "$label.dll" "$wine" tessary-sim.exe --json --log --dll vbatessary.dll "$@" || return
  for side in native dll; do
    sed -E 's/[0-9]+\.[0-9]+ ms/N ms/g' "$work/$label.$side.out" >"$work/$label.$side.masked.out"
  done
  if grep -q '"INFO  connect: vba Tessary ' "$work/$label.dll.out"; then
    same "$label.native.masked" "$label.dll.masked"
  else
    echo "FAIL $label.dll: no connection line in the log"
    status=1
  fi
}
logged log connect click 1 references click 6 disconnect

# A command typed before any connection connects first, through the DLL as natively; state does not.
# implied <label> <documents> <what the first says> <what the last says> <command...>
implied() {
  label=$1 docs=$2 first=$3 last=$4
  shift 4
  compare "$label" "$@"
  for side in native dll; do
    out=$work/$label.$side.out
    [ -s "$out" ] || continue
    if [ "$(wc -l <"$out")" -eq "$docs" ] && head -1 "$out" | grep -qF -- "$first" &&
       tail -1 "$out" | grep -qF -- "$last"; then
      echo "ok   $label.$side: $docs documents, the first with $first"
    else
      echo "FAIL $label.$side: expected $docs documents, the first with $first, the last with $last:"
      cut -c1-200 "$out"
      status=1
    fi
  done
}
implied click-alone 2 '"command":"connect (implied)","bar":{' '"opened":["VBAProject - Module1 (Code)"' click 1
implied references-alone 2 '"command":"connect (implied)","bar":{' 'References set in Budget.xlsm' references
implied state-alone 1 '"command":"state","bar":null' '"command":"state","bar":null' state

# A DLL that cannot be loaded or registered: a message, exit status 2, no output.
refused() {
  name=$1
  shift
  (cd "$bin" && "$wine" tessary-sim.exe "$@" >"$work/$name.out" 2>"$work/$name.err" </dev/null)
  rc=$?
  if [ $rc -eq 2 ] && [ ! -s "$work/$name.out" ] && grep -q "^tessary-sim: --dll " "$work/$name.err"; then
    printf "ok   %s refused: %s\n" "$name" "$(head -1 "$work/$name.err")"
  else
    echo "FAIL $name: exit status $rc, stdout $(wc -c <"$work/$name.out") bytes, stderr:"
    cat "$work/$name.err"
    status=1
  fi
}
refused missing-dll --dll no-such.dll connect
refused not-a-dll --dll VBEEXT1.OLB connect
refused not-a-server --dll 'C:\windows\system32\version.dll' connect
# An add-in installed for this user is not unregistered by a session: the session is refused.
installed='HKCU\Software\Classes\CLSID\{BF58B135-96A1-4809-BA5C-8B9637E56DAB}'
"$wine" reg add "$installed" /f >/dev/null 2>&1
refused installed --dll vbatessary.dll connect
"$wine" reg query "$installed" >/dev/null 2>&1 || { echo "FAIL installed: the user's registration was removed"; status=1; }
"$wine" reg delete "$installed" /f >/dev/null 2>&1

# The user's own setting is the same after a session that wrote another value.
key='HKCU\Software\VB and VBA Program Settings\vbatessary\Settings'
"$wine" reg add "$key" /v DisplayOnConnect /d 0 /f >/dev/null 2>&1
run kept-setting "$wine" tessary-sim.exe --json --dll vbatessary.dll connect disconnect &&
  grep -q 'DisplayOnConnect=1' "$work/kept-setting.out" || { echo "FAIL kept-setting: no setting written"; status=1; }
if "$wine" reg query "$key" /v DisplayOnConnect 2>/dev/null | grep -q 'REG_SZ[[:space:]]*0'; then
  echo "ok   the user's DisplayOnConnect is back to 0 after the session"
else
  echo "FAIL the user's DisplayOnConnect setting was not put back"
  status=1
fi
"$wine" reg delete "$key" /f >/dev/null 2>&1

exit $status
