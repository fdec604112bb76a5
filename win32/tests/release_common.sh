# Shared by the tests of the release under Wine (package_test.sh, msi_test.sh): the add-in's ids,
# the report lines and the registry reads. Sourced after wine-common.sh's wine_use.
clsid='{BF58B135-96A1-4809-BA5C-8B9637E56DAB}'
libid='{C6A25868-C2E3-4C90-8A26-254259120AEE}'
iid='{F3ADD325-79DF-4B43-985E-A38B4E1257C8}'
progid=VBATessary.Connect
settings='HKCU\Software\VB and VBA Program Settings\vbatessary\Settings'

status=0
# printf, not echo: the paths are Windows paths, and their backslashes stay as they are.
ok() { printf '%s\n' "ok   $*"; }
bad() {
  printf '%s\n' "FAIL $*"
  status=1
}

# value <key> [<name>] [<view>]: the data of a value ("" for the key's default), or nothing.
value() {
  if [ -n "${2:-}" ]; then
    "$wine" reg query "$1" /v "$2" ${3:-} </dev/null 2>/dev/null
  else
    "$wine" reg query "$1" /ve ${3:-} </dev/null 2>/dev/null
  fi | tr -d '\r' | sed -n 's/^ .*REG_[A-Z_]* *//p' | head -1
}
exists() { "$wine" reg query "$1" ${2:-} </dev/null >/dev/null 2>&1; }

# Whether this prefix runs 32-bit programs (a 64-bit prefix on a kernel that runs none does not).
runs_32bit_here() {
  "$wine" 'C:\windows\syswow64\cmd.exe' /d /c exit 7 </dev/null >/dev/null 2>&1
  [ $? -eq 7 ]
}
# The cscript of a half's bitness.
cscript_of() { if [ "$1" = x86 ] && [ "$arch" = win64 ]; then echo 'C:\windows\syswow64\cscript.exe'; else echo cscript; fi; }
# export_key <key> [<view switch>] [<prefix of each key line>]: a key as reg exports it, in UTF-8
# without CRs (through $root/export.reg, $winroot being its Windows name).
export_key() {
  "$wine" reg export "$1" "$winroot\\export.reg" /y ${2:-} </dev/null >/dev/null 2>&1 || return 0
  iconv -f UTF-16 -t UTF-8 "$root/export.reg" | tr -d '\r' | sed "s/^\\[/[${3:-}/"
  rm -f "$root/export.reg"
}
# msiexec <name> <arguments...>: Wine's msiexec, its output in $work/<name>.out, its status in $rc.
msiexec() {
  name=$1
  shift
  "$wine" msiexec "$@" </dev/null >"$work/$name.out" 2>&1
  rc=$?
}
