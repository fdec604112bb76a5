#!/usr/bin/env bash
# The installer's icon (Apps & Features, the Start-menu shortcut), drawn here rather than kept as a
# binary: a 16x16 32-bit .ico, a white "T" on a blue square with cut corners.
# usage: icon.sh <out.ico>
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: icon.sh <out.ico>" >&2; exit 1; }

# Little-endian bytes of a number as printf escapes: le <value> <bytes>.
le() {
  local v=$1 n=$2 s=
  for ((i = 0; i < n; i++)); do
    s+=$(printf '\\x%02x' $((v & 255)))
    v=$((v >> 8))
  done
  printf '%s' "$s"
}

# The pixel at row r (0 = top), column c: w(hite), b(lue) or t(ransparent).
pixel() {
  local r=$1 c=$2
  if { [ "$r" = 0 ] || [ "$r" = 15 ]; } && { [ "$c" = 0 ] || [ "$c" = 15 ]; }; then echo t
  elif { [ "$r" -ge 3 ] && [ "$r" -le 4 ] && [ "$c" -ge 3 ] && [ "$c" -le 12 ]; } ||
       { [ "$r" -ge 5 ] && [ "$r" -le 12 ] && [ "$c" -ge 7 ] && [ "$c" -le 8 ]; }; then echo w
  else echo b; fi
}

{
  size=$((40 + 16 * 16 * 4 + 16 * 4))
  # ICONDIR, one ICONDIRENTRY (16x16, 1 plane, 32 bits), then the BITMAPINFOHEADER (height doubled
  # for the AND mask), the BGRA rows bottom up, and the AND mask (4 bytes a row).
  printf "$(le 0 2)$(le 1 2)$(le 1 2)"
  printf "\\x10\\x10\\x00\\x00$(le 1 2)$(le 32 2)$(le $size 4)$(le 22 4)"
  printf "$(le 40 4)$(le 16 4)$(le 32 4)$(le 1 2)$(le 32 2)$(le 0 4)$(le $((16 * 16 * 4)) 4)$(le 0 4)$(le 0 4)$(le 0 4)$(le 0 4)"
  for ((r = 15; r >= 0; r--)); do
    row=
    for ((c = 0; c < 16; c++)); do
      case $(pixel $r $c) in
      w) row+='\xff\xff\xff\xff' ;;
      b) row+='\xb0\x50\x1e\xff' ;;
      t) row+='\x00\x00\x00\x00' ;;
      esac
    done
    printf "$row"
  done
  for ((r = 15; r >= 0; r--)); do
    if [ "$r" = 0 ] || [ "$r" = 15 ]; then printf '\x80\x01\x00\x00'; else printf '\x00\x00\x00\x00'; fi
  done
} >"$1"
