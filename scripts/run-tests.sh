#!/usr/bin/env bash
# Sets up, builds and runs every test. With --sanitize: the same under ASan + UBSan.
# With --tsan: only the tests that drive the driver from several threads, under ThreadSanitizer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
dir="$root/build"
opts=(-DFR_WERROR=ON)
if [ "${1:-}" = "--tsan" ]; then
  dir="$root/build-tsan"
  cmake -S "$root" -B "$dir" -G Ninja -DFR_WERROR=ON -DFR_TSAN=ON -DFR_BUILD_BENCH=OFF >/dev/null
  # Only what the threaded test needs: the add-in tests and the libraries under them.
  cmake --build "$dir" -j "$(nproc)" --target test_addin
  cd "$dir"
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}" \
    ctest --output-on-failure -R 'DriverLog\.'
  exit
fi
# Extra configure options, e.g. the Windows DLLs to pack into the archive (see run-all-tests.sh).
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
