#!/usr/bin/env bash
# Builds the simulator and runs it on its built-in sample workspace.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh
need_packages "${NATIVE_PACKAGES[@]}"
cmake --preset native >/dev/null
cmake --build --preset native --target tessary-sim >/dev/null
exec build/native/tools/sim/tessary-sim "$@"
