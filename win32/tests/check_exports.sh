#!/bin/sh
# The DLL exports exactly the four in-process server entry points and imports only system DLLs.
# usage: check_exports.sh <objdump> <dll>
set -u
dump=$("$1" -p "$2") || exit 1
exports=$(printf '%s\n' "$dump" | sed -n '/Ordinal\/Name Pointer/,/^$/p' | sed 1d |
          sed -n 's/.*\] *\([A-Za-z_][A-Za-z0-9_@]*\)$/\1/p' | sort | tr '\n' ' ')
expected="DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer "
status=0
if [ "$exports" != "$expected" ]; then
  echo "exports: '$exports', expected '$expected'"
  status=1
fi
imports=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'a-z' 'A-Z' | sort -u)
for dll in $imports; do
  case $dll in
    ADVAPI32.DLL|KERNEL32.DLL|MSVCRT.DLL|OLE32.DLL|OLEAUT32.DLL|USER32.DLL) ;;
    *) echo "unexpected import: $dll"; status=1 ;;
  esac
done
[ -n "$imports" ] || { echo "no imports found"; status=1; }
echo "exports: $exports"
echo "imports:" $imports
exit $status
