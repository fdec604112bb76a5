#!/bin/sh
# The emulated machine for the 32-bit Wine tests where this kernel cannot run 32-bit programs: a
# Debian bookworm root filesystem from the host's own Debian archive, as an ext4 disk image with its
# kernel and initrd beside it. Built once per recipe (this file and init.sh) in a cache outside the
# source tree; a changed recipe builds a new one. Prints the directory that holds the image.
# usage: image.sh     (TESSARY_GUEST_CACHE overrides the cache directory)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
cache=${TESSARY_GUEST_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vbatessary-guest}
key=$(cat "$here/image.sh" "$here/init.sh" | sha256sum | cut -c1-16)
dir=$cache/$key
if [ -f "$dir/ready" ]; then
  echo "$dir"
  exit 0
fi

# What the win32 test suite runs on: 32-bit Wine, ctest, objdump for the export check, the MSI and
# signing tools for the release's tests, and a kernel.
packages="linux-image-amd64,initramfs-tools,kmod,procps,mount,wine,wine32:i386,wine64,libwine:i386"
packages="$packages,cmake,binutils-mingw-w64-i686,wixl,msitools,osslsigncode,openssl"

# The host's own Debian sources for bookworm less its security suite, so the guest comes from the
# same archive as the host: a test rig needs no security updates, and must not fail while that
# suite's indexes are out of step with each other.
sources_dir=$(mktemp -d "${TMPDIR:-/tmp}/tessary-sources.XXXXXX")
trap 'rm -rf "$sources_dir"' EXIT
sources=""
n=0
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] || continue
  n=$((n + 1))
  case $f in
  *.sources)
    out=$sources_dir/$n.sources
    # deb822: security suites leave the Suites field; a stanza with no suite left goes.
    awk 'function flush() { if (keep && text != "") printf "%s\n", text; text = ""; keep = 1 }
         BEGIN { keep = 1 }
         /^[[:space:]]*$/ { flush(); next }
         /^Suites:/ { line = "Suites:"; left = 0
                      for (i = 2; i <= NF; i++) if ($i !~ /-security$/) { line = line " " $i; left++ }
                      if (!left) keep = 0; $0 = line }
         { text = text $0 "\n" }
         END { flush() }' "$f" >"$out"
    ;;
  *)
    out=$sources_dir/$n.list
    awk '/^[[:space:]]*#/ { next } { for (i = 1; i <= NF; i++) if ($i ~ /-security$/) next; print }' "$f" >"$out"
    ;;
  esac
  if awk '/^[[:space:]]*#/ { next } { for (i = 1; i <= NF; i++) if ($i == "bookworm") found = 1 }
          END { exit !found }' "$out"; then
    sources="$sources $out"
  fi
done
if [ -z "$sources" ]; then
  echo "guest image: no apt source for bookworm on this machine" >&2
  exit 1
fi

mkdir -p "$cache"
# Only one image is kept: older recipes' images are removed.
for old in "$cache"/*; do
  [ "$old" = "$dir" ] || rm -rf "$old"
done
rm -rf "$dir"
work=$dir.part
mkdir -p "$work"
trap 'rm -rf "$work" "$sources_dir"' EXIT

echo "guest image: building $dir (Debian bookworm, amd64 and i386)" >&2
start=$(date +%s)
# A tar stream, not a directory: mmdebstrap mounts /dev, /proc and /sys in a directory it builds,
# and only its own clean-up may remove that directory.
# shellcheck disable=SC2086
mmdebstrap --quiet --variant=apt --architectures=amd64,i386 --include="$packages" \
  --aptopt='APT::Install-Recommends "false"' \
  --customize-hook='rm -rf "$1"/var/cache/apt/archives/*.deb "$1"/var/lib/apt/lists/*' \
  bookworm "$work/root.tar" $sources
mkdir "$work/rootfs"
tar -xf "$work/root.tar" -C "$work/rootfs"
rm "$work/root.tar"
install -m 0755 "$here/init.sh" "$work/rootfs/sbin/tessary-init"
cp "$work"/rootfs/boot/vmlinuz-* "$work/vmlinuz"
cp "$work"/rootfs/boot/initrd.img-* "$work/initrd.img"
# Room for the build tree, the test prefix and the tests' files beside the system.
mke2fs -q -t ext4 -L tessary -d "$work/rootfs" "$work/root.img" 6G
rm -rf "$work/rootfs"
trap 'rm -rf "$sources_dir"' EXIT
mv "$work" "$dir"
touch "$dir/ready"
echo "guest image: built in $(( $(date +%s) - start )) s" >&2
echo "$dir"
