# Shared by the scripts: install Debian packages that are missing, quietly and only once.
need_packages() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}" >&2
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  case " ${missing[*]}" in
    *:i386*) dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386 ;;
  esac
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

NATIVE_PACKAGES=(cmake make g++ libgtest-dev libgmock-dev nlohmann-json3-dev)
# The DLL's cross build and its Wine tests (zip and unzip for the release's); wine32 is i386, so
# that architecture is added first.
WINE_PACKAGES=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools libwine-dev wine wine32:i386 wine64 zip unzip)
# The release zip (scripts/package.sh): the two cross builds and zip.
PACKAGE_PACKAGES=(cmake make g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools libwine-dev libwine:i386
                  nlohmann-json3-dev zip unzip)
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
