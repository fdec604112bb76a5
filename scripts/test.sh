#!/usr/bin/env bash
# Builds everything and runs every test: the native suite, the same under the sanitizers, short fuzz
# runs, then the real DLL under Wine, 64-bit and 32-bit. The 64-bit DLL runs with Wine's 64-bit
# loader. The 32-bit DLL runs under 32-bit Wine here where this kernel runs 32-bit programs, and
# otherwise in an emulated Debian guest (scripts/guest/); TESSARY_WIN32_GUEST=1 takes the guest's
# way on any machine. Installs what is missing first. Ends with one line of suites and counts.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

summary=()
times=()
phase_start=0
begin() { phase_start=$(date +%s); echo "== $1"; }
took() { times+=("$1 $(( $(date +%s) - phase_start )) s"); }

# ctest_suite <label> <preset> [where]: runs a preset's suite and records its count.
ctest_suite() {
  local log="build/$2.ctest.log"
  mkdir -p build
  ctest --preset "$2" 2>&1 | tee "$log"
  record "$1" "$log" "${3:-}"
}
# record <label> <ctest log> [where]
record() {
  local count
  count=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$2" | tail -1)
  [ -n "$count" ] || { echo "test.sh: no ctest count for $1 in $2" >&2; exit 1; }
  summary+=("$1 $count passed${3:+ ($3)}")
}

begin packages
win32_way=native
if [ "${TESSARY_WIN32_GUEST:-0}" = 1 ]; then
  win32_way="emulated guest"
  echo "32-bit DLL: in an emulated guest (TESSARY_WIN32_GUEST=1)"
elif runs_32bit; then
  echo "32-bit DLL: this kernel runs 32-bit programs; its Wine tests run here"
else
  win32_way="emulated guest"
  echo "32-bit DLL: this kernel runs no 32-bit programs; its Wine tests run in an emulated guest"
fi
packages=("${NATIVE_PACKAGES[@]}" clang libclang-rt-14-dev "${WINE_PACKAGES[@]}")
[ "$win32_way" = native ] || packages+=("${GUEST_PACKAGES[@]}")
need_packages "${packages[@]}"
took packages

# The guest's image is built (or found in the cache) beside the native phases: most of it is
# waiting on the archive and on dpkg.
if [ "$win32_way" != native ]; then
  mkdir -p build
  sh scripts/guest/image.sh >build/guest-image.log 2>&1 &
  image_job=$!
fi

begin native
cmake --preset native >/dev/null
cmake --build --preset native
ctest_suite native native
took native

begin native-asan
cmake --preset native-asan >/dev/null
cmake --build --preset native-asan
ctest_suite native-asan native-asan
took native-asan

begin fuzz
scripts/fuzz.sh | tee build/fuzz.log
summary+=("fuzz $(grep -c '^fuzz: .*runs' build/fuzz.log) passed")
took fuzz

begin win64
cmake --preset win64 >/dev/null
cmake --build --preset win64
# Its package test installs the 32-bit DLL beside the 64-bit one, as on 64-bit Windows.
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target vbatessary vbatessary-check
ctest_suite win64 win64 "here, 64-bit loader"
took win64

if [ "$win32_way" = native ]; then
  begin win32
  cmake --preset win32 -DTESSARY_TEST_TIME_SCALE=1 >/dev/null
  cmake --build --preset win32
  ctest_suite win32 win32 "here, 32-bit loader"
  took win32
else
  begin "guest image"
  if ! wait "$image_job"; then
    cat build/guest-image.log >&2
    echo "test.sh: the guest image could not be built" >&2
    exit 1
  fi
  cat build/guest-image.log
  built=$(sed -n 's/.*built in \([0-9]*\) s.*/\1/p' build/guest-image.log)
  if [ -n "$built" ]; then times+=("guest image $built s (beside the native phases)"); else times+=("guest image cached"); fi
  begin win32
  # The runner first shows that a failing or hanging guest fails this command.
  sh scripts/guest/selfcheck.sh | tee build/guest-selfcheck.log
  summary+=("$(sed -n 's/^guest-runner: \([0-9]*\) passed$/guest-runner \1 passed/p' build/guest-selfcheck.log)")
  # The emulated machine runs the tests about ten times slower than this one.
  cmake --preset win32 -DTESSARY_TEST_TIME_SCALE=10 >/dev/null
  cmake --build --preset win32
  sh scripts/guest/ctest.sh win32 "${TESSARY_GUEST_LIMIT:-3600}"
  record win32 build/win32/guest-ctest.log "emulated guest"
  took win32
fi

echo "times: $(IFS=';'; echo "${times[*]}" | sed 's/;/; /g')"
echo "suites: $(IFS=';'; echo "${summary[*]}" | sed 's/;/; /g')"
