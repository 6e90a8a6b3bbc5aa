#!/usr/bin/env bash
# Sets up, builds and runs every test. With --sanitize: the same under ASan + UBSan.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
dir="$root/build"
opts=(-DFR_WERROR=ON)
# Extra configure options, e.g. the Windows DLLs to pack into the archive (see .ci/run).
if [ -n "${FR_CMAKE_OPTIONS:-}" ]; then
  read -r -a extra <<<"$FR_CMAKE_OPTIONS"
  opts+=("${extra[@]}")
fi
if [ "${1:-}" = "--sanitize" ]; then
  dir="$root/build-asan"
  opts+=(-DFR_SANITIZE=ON -DFR_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug)
fi
"$root/scripts/build.sh" "$dir" "${opts[@]}"
cd "$dir"
ctest --output-on-failure -j "$(nproc)"
