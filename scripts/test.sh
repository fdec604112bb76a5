#!/usr/bin/env bash
# Builds everything and runs every test: the native suite, then the real DLL under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
need_packages "${NATIVE_PACKAGES[@]}"

cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native

# The same suite under AddressSanitizer and UndefinedBehaviorSanitizer, then short fuzz runs.
need_packages clang libclang-rt-14-dev
cmake --preset native-asan >/dev/null
cmake --build --preset native-asan
ctest --preset native-asan
scripts/fuzz.sh

if [ -x scripts/test-win.sh ]; then
  scripts/test-win.sh
fi
echo "all tests passed"
