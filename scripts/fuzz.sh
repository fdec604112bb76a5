#!/usr/bin/env bash
# Short libFuzzer runs over the seed corpora: a fixed number of inputs per target, so the run
# takes seconds and is the same every time. Longer runs: scripts/fuzz.sh <runs>.
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-20000}"

cmake -S fuzz -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/fuzz -j2 >/dev/null

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# Every target runs; each one that fails is named.
status=0
for corpus in fuzz/corpus/*/; do
  name="$(basename "$corpus")"
  target="build/fuzz/fuzz_$name"
  [ -x "$target" ] || { echo "fuzz: no target for corpus $name" >&2; exit 1; }
  mkdir -p "$work/$name"
  dict=()
  [ -f "fuzz/$name.dict" ] && dict=(-dict="$PWD/fuzz/$name.dict")
  # New inputs go to the scratch directory; the seeds in the repository stay as they are.
  if ! (cd "$work" && "$OLDPWD/$target" "${dict[@]}" -runs="$runs" -seed=1 -max_len=2048 "$work/$name" "$OLDPWD/$corpus" \
        >"$work/$name.log" 2>&1); then
    tail -40 "$work/$name.log" >&2
    echo "fuzz: $name failed"
    status=1
    continue
  fi
  echo "fuzz: $name: $runs runs, $(grep -o 'cov: [0-9]*' "$work/$name.log" | tail -1)"
done
exit $status
