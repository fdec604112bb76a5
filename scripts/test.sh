#!/usr/bin/env bash
# Builds everything and runs every test: the native suite, the same under the sanitizers, short fuzz
# runs, then the real DLL under Wine, 64-bit and 32-bit. The 64-bit DLL runs with Wine's 64-bit
# loader. The 32-bit DLL runs under 32-bit Wine here where this kernel runs 32-bit programs, and
# otherwise in an emulated Debian guest (scripts/guest/); TESSARY_WIN32_GUEST=1 takes the guest's
# way on any machine. Installs what is missing first. A failing suite does not stop the later ones;
# the last line names each suite with its count or its failed tests, and the status is 1 if any failed.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

summary=()
times=()
failed=0
phase_start=0
begin() { phase_start=$(date +%s); echo "== $1"; }
took() { times+=("$1 $(( $(date +%s) - phase_start )) s"); }
# fail <label> <what>: one suite failed; the later suites still run, and the command fails at the end.
fail() {
  summary+=("$1 FAILED: $2")
  failed=1
  echo "test.sh: $1 failed: $2" >&2
}

# build <label> <preset> [cmake arguments...]: configures and builds a preset; a failure is the suite's.
build() {
  local label=$1 preset=$2
  shift 2
  cmake --preset "$preset" "$@" >/dev/null && cmake --build --preset "$preset" && return 0
  fail "$label" "the $preset build failed"
  return 1
}
# ctest_suite <label> <preset> [where]: runs a preset's suite and records its count or its failures.
ctest_suite() {
  local log="build/$2.ctest.log"
  mkdir -p build
  ctest --preset "$2" 2>&1 | tee "$log" || true
  record "$1" "$log" "${3:-}"
}
# record <label> <ctest log> [where]: "N passed", or the names of the tests that failed.
record() {
  local count names
  count=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$2" 2>/dev/null | tail -1)
  if [ -n "$count" ]; then
    summary+=("$1 $count passed${3:+ ($3)}")
    return 0
  fi
  # ctest lists them as "<tab>  12 - name (Failed)" after "The following tests FAILED:".
  names=$(sed -n '/^The following tests FAILED:/,$s/^[[:space:]]*[0-9][0-9]* - \(.*\) ([^)]*)$/\1/p' "$2" 2>/dev/null |
    paste -sd ' ' -)
  fail "$1" "${names:-no ctest count in $2}${3:+ ($3)}"
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
build native native && ctest_suite native native
took native

begin native-asan
build native-asan native-asan && ctest_suite native-asan native-asan
took native-asan

begin fuzz
if scripts/fuzz.sh 2>&1 | tee build/fuzz.log; then
  summary+=("fuzz $(grep -c '^fuzz: .*runs' build/fuzz.log) passed")
else
  targets=$(sed -n 's/^fuzz: \(.*\) failed$/\1/p' build/fuzz.log | paste -sd ' ' -)
  fail fuzz "${targets:-the fuzz targets could not be built}"
fi
took fuzz

begin win64
# Its package test installs the 32-bit DLL beside the 64-bit one, as on 64-bit Windows.
if build win64 win64 && build win64 win32 && cmake --build --preset win32 --target vbatessary vbatessary-check vbatessary-checkw; then
  ctest_suite win64 win64 "here, 64-bit loader"
fi
took win64

if [ "$win32_way" = native ]; then
  begin win32
  build win32 win32 -DTESSARY_TEST_TIME_SCALE=1 && ctest_suite win32 win32 "here, 32-bit loader"
  took win32
elif begin "guest image" && ! wait "$image_job"; then
  cat build/guest-image.log >&2
  fail win32 "the guest image could not be built (emulated guest)"
else
  cat build/guest-image.log
  built=$(sed -n 's/.*built in \([0-9]*\) s.*/\1/p' build/guest-image.log)
  if [ -n "$built" ]; then times+=("guest image $built s (beside the native phases)"); else times+=("guest image cached"); fi
  begin win32
  # The runner first shows that a failing or hanging guest fails this command.
  if sh scripts/guest/selfcheck.sh 2>&1 | tee build/guest-selfcheck.log; then
    summary+=("$(sed -n 's/^guest-runner: \([0-9]*\) passed$/guest-runner \1 passed/p' build/guest-selfcheck.log)")
  else
    fail guest-runner "its self-check failed"
  fi
  # The emulated machine runs the tests about ten times slower than this one.
  if build win32 win32 -DTESSARY_TEST_TIME_SCALE=10; then
    rm -f build/win32/guest-ctest.log
    # Its limit leaves room for a loaded machine: a run under two cores' worth of other builds
    # took 3540 s.
    sh scripts/guest/ctest.sh win32 "${TESSARY_GUEST_LIMIT:-4500}" || true
    record win32 build/win32/guest-ctest.log "emulated guest"
  fi
  took win32
fi

echo "times: $(IFS=';'; echo "${times[*]}" | sed 's/;/; /g')"
echo "suites: $(IFS=';'; echo "${summary[*]}" | sed 's/;/; /g')"
exit $failed
