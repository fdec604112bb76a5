# Shared by the scripts: install Debian packages that are missing, quietly and only once.
#
# The archive is not always in step with itself: while a mirror syncs, one index may be served with
# a size its Release does not list, and a package newer in the security suite may then have no twin
# of the other architecture. The package step rides that out: it retries the index update and goes
# on with the indexes apt has, and when an install cannot be resolved it tries once more preferring
# the release suite of this machine's Debian, where both architectures have one version.

# Extra options for every apt-get call; the package step's own test points apt at a private archive.
APT_OPTIONS=()
# Pause between tries of the index update, in seconds.
APT_RETRY_PAUSE=${APT_RETRY_PAUSE:-5}

as_root() {
  if [ "$(id -u)" -ne 0 ]; then sudo "$@"; else "$@"; fi
}

# This machine's Debian codename (bookworm), from os-release.
release_codename() {
  (. "${OS_RELEASE_FILE:-/etc/os-release}" && echo "${VERSION_CODENAME:-}")
}

# apt_update: refreshes the indexes, three tries; an index that still fails is named in one line
# and the step goes on with what apt has (the previous lists, or none of that index).
apt_update() {
  local try log
  log=$(mktemp)
  for try in 1 2 3; do
    if as_root apt-get "${APT_OPTIONS[@]}" -qq update >"$log" 2>&1 &&
      ! grep -q '^[EW]: Failed to fetch' "$log"; then
      rm -f "$log"
      return 0
    fi
    [ "$try" -lt 3 ] && sleep "$APT_RETRY_PAUSE"
  done
  local failed
  failed=$(sed -n 's/^[EW]: Failed to fetch \([^ ]*\)  *\(.*\)$/\1 (\2)/p' "$log" | sed 's/ *\[IP:[^]]*\]//' |
    paste -sd ';' - | sed 's/;/; /g')
  [ -n "$failed" ] || failed=$(grep '^E:' "$log" | paste -sd ' ' -)
  echo "packages: index update failed 3 times, going on with the indexes apt has: $failed" >&2
  rm -f "$log"
  return 0
}

# apt_get_install [apt-get options] <package>...: one quiet, non-interactive install.
apt_get_install() {
  as_root env DEBIAN_FRONTEND=noninteractive apt-get "${APT_OPTIONS[@]}" install -y -qq --no-install-recommends "$@"
}

# apt_install <package>...: installs; when apt cannot resolve or fetch them, tries once more with
# the release suite preferred. Fails, with apt's reason, only when both fail.
apt_install() {
  local log codename
  log=$(mktemp)
  if apt_get_install "$@" >"$log" 2>&1; then
    rm -f "$log"
    return 0
  fi
  codename=$(release_codename)
  echo "packages: install failed ($(grep '^E:' "$log" | head -1 | cut -c4-)); trying again with the release suite ${codename:-?} preferred" >&2
  if [ -n "$codename" ] && apt_get_install -t "$codename" "$@" >"$log" 2>&1; then
    echo "packages: installed with the release suite $codename preferred" >&2
    rm -f "$log"
    return 0
  fi
  echo "packages: install failed again:" >&2
  grep -v '^\(Selecting\|Preparing\|Unpacking\|Setting up\|Processing\)' "$log" | tail -20 >&2
  rm -f "$log"
  return 1
}

need_packages() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}" >&2
  case " ${missing[*]}" in
    *:i386*) dpkg --print-foreign-architectures | grep -qx i386 || as_root dpkg --add-architecture i386 ;;
  esac
  apt_update
  apt_install "${missing[@]}"
}

NATIVE_PACKAGES=(cmake make g++ libgtest-dev libgmock-dev nlohmann-json3-dev)
# The DLL's cross build and its Wine tests (zip, unzip, wixl and msitools, the signing tools for the
# release's); wine32 is i386, so that architecture is added first.
WINE_PACKAGES=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools libwine-dev wine wine32:i386 wine64 zip unzip
               wixl msitools osslsigncode openssl)
# The release (scripts/package.sh): the two cross builds, zip, the MSIs and their signing.
PACKAGE_PACKAGES=(cmake make g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools libwine-dev libwine:i386
                  nlohmann-json3-dev zip unzip wixl msitools osslsigncode)
# Building and booting the emulated guest.
GUEST_PACKAGES=(qemu-system-x86 mmdebstrap e2fsprogs)

# Whether this kernel runs 32-bit x86 programs (some have that switched off): runs a 96-byte i386
# program whose only instruction is exit(32). The probe is written under build/, not /tmp, which
# may be mounted noexec.
runs_32bit() {
  local probe=build/.probe-i386
  mkdir -p build
  printf '\177\105\114\106\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000' >"$probe"
  printf '\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\273\040\000\000\000\315\200' >>"$probe"
  chmod +x "$probe"
  local rc=0
  "$probe" 2>/dev/null || rc=$?
  rm -f "$probe"
  [ "$rc" -eq 32 ]
}
