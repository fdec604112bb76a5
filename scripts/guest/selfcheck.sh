#!/bin/sh
# The guest runner's own checks: a job's failure comes back as its exit status, and a guest that
# hangs is stopped by the time limit, both as failures of the caller.
# usage: selfcheck.sh   (prints "guest-runner: N passed" when all hold)
set -eu
cd "$(dirname "$0")/../.."
image=$(sh scripts/guest/image.sh)
stage=$(mktemp -d "${TMPDIR:-/tmp}/tessary-selfcheck.XXXXXX")
trap 'rm -rf "$stage"' EXIT
passed=0

# expect <name> <status> <seconds> <run.sh body>
expect() {
  mkdir -p "$stage/$1/job"
  printf '%s\n' "$4" >"$stage/$1/job/run.sh"
  tar -cf "$stage/$1.tar" -C "$stage/$1" job
  rc=0
  sh scripts/guest/boot.sh "$image" "$stage/$1.tar" "$stage/$1/result" "$3" >"$stage/$1.log" 2>&1 || rc=$?
  if [ "$rc" -ne "$2" ]; then
    cat "$stage/$1.log"
    echo "guest-runner: $1: exit status $rc, expected $2" >&2
    exit 1
  fi
  passed=$((passed + 1))
}

expect failing 3 300 'echo a failing job; exit 3'
grep -q '^a failing job' "$stage/failing/result/console.log" ||
  { echo "guest-runner: the job's output is not on the console" >&2; exit 1; }
expect result 0 300 'echo kept >/job/out/kept'
[ "$(cat "$stage/result/result/kept" 2>/dev/null)" = kept ] ||
  { echo "guest-runner: the job's out/ did not come back" >&2; exit 1; }
expect hanging 124 60 'echo hanging; while :; do sleep 1; done'
echo "guest-runner: $passed passed"
