#!/bin/sh
# Runs one preset's ctest suite inside the emulated guest, for the 32-bit Wine tests where this
# kernel cannot run 32-bit programs. The source tree and the built tree go in at the same absolute
# path as here, with the Linux simulator the differential test compares against, so the suite runs
# exactly as it would on this machine. Exit status: ctest's in the guest, or boot.sh's.
# usage: ctest.sh <preset> <time limit in seconds>
# TESSARY_GUEST_CTEST_ARGS: more arguments for ctest in the guest, as shell words there
# ('-R "check_test|package.msi"' runs those tests, with the fixtures they need).
set -eu
cd "$(dirname "$0")/../.."
src=$(pwd)
preset=$1
limit=$2
build=build/$preset
[ -f "$build/CTestTestfile.cmake" ] || { echo "guest: $build is not built" >&2; exit 2; }
image=$(sh scripts/guest/image.sh)

stage=$(mktemp -d "${TMPDIR:-/tmp}/tessary-job.XXXXXX")
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/job"
cat >"$stage/job/run.sh" <<RUN
cd '$src' || exit 2
# ctest's own status, not tee's.
{ ctest --preset '$preset' ${TESSARY_GUEST_CTEST_ARGS:-}; echo \$? >/job/out/ctest.status; } 2>&1 | tee /job/out/ctest.log
exit \$(cat /job/out/ctest.status)
RUN

rel=${src#/}
set --
for entry in "$src"/* "$src"/.[!.]*; do
  name=$(basename "$entry")
  case $name in build | .git | '.[!.]*') ;; *) set -- "$@" "$rel/$name" ;; esac
done
set -- "$@" "$rel/$build"
[ -x build/native/tools/sim/tessary-sim ] && set -- "$@" "$rel/build/native/tools/sim/tessary-sim"
# The prefix is made in the guest by the suite's first test, as it is here.
tar -cf "$stage/job.tar" -C "$stage" job -C / --exclude="$rel/$build/wineprefix" "$@"
echo "guest: job of $(du -m "$stage/job.tar" | cut -f1) MB"

status=0
sh scripts/guest/boot.sh "$image" "$stage/job.tar" "$stage/result" "$limit" || status=$?
[ -f "$stage/result/ctest.log" ] && cp "$stage/result/ctest.log" "$build/guest-ctest.log"
cp "$stage/result/console.log" "$build/guest-console.log" 2>/dev/null || true
exit $status
