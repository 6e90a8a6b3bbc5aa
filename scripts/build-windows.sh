#!/usr/bin/env bash
# Cross-builds the Windows side with MinGW-w64: build-mingw64 (x86-64) and build-mingw32 (x86),
# each with every layer, the DLL, frcli.exe, the unit suites and the COM test host; then checks
# both DLLs (machine, exports, imports) with objdump.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" --windows
cmake -S "$root" -B "$root/build-mingw64" -G Ninja -DFR_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" >/dev/null
cmake --build "$root/build-mingw64" -j "$(nproc)"
cmake -S "$root" -B "$root/build-mingw32" -G Ninja -DFR_WERROR=ON -DFR_BUILD_TESTS=ON \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" >/dev/null
cmake --build "$root/build-mingw32" -j "$(nproc)"
def="$root/src/addin/native/fr_tarvikonline1c83.def"
cmake -DDLL="$root/build-mingw64/src/addin/native/fr_tarvikonline1c83.dll" -DDEF="$def" -DMACHINE=x86-64 \
  -DOBJDUMP=x86_64-w64-mingw32-objdump -P "$root/tests/windows/CheckDll.cmake"
cmake -DDLL="$root/build-mingw32/src/addin/native/fr_tarvikonline1c83.dll" -DDEF="$def" -DMACHINE=i386 \
  -DOBJDUMP=i686-w64-mingw32-objdump -P "$root/tests/windows/CheckDll.cmake"
