#!/usr/bin/env bash
# Sets up, builds and runs every test (what CI runs): the Windows cross-builds; every Linux test
# (the archive then carries all three libraries); the x86-64 Windows build's tests under wine64
# and the x86 build's under 32-bit wine; every Linux test again under
# AddressSanitizer + UndefinedBehaviorSanitizer; the several-registers test under ThreadSanitizer;
# each fuzz target for 30 s.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
"$root/scripts/build-windows.sh"
FR_CMAKE_OPTIONS="-DFR_ADDIN_DLL_X64=$root/build-mingw64/src/addin/native/fr_tarvikonline1c83.dll \
-DFR_ADDIN_DLL_X86=$root/build-mingw32/src/addin/native/fr_tarvikonline1c83.dll" "$root/scripts/run-tests.sh"
unzip -l "$root/build/fr_tarvikonline1c83.zip"
"$root/scripts/run-windows-tests.sh" "$root/build-mingw64" "$root/build"
"$root/scripts/run-windows-tests.sh" "$root/build-mingw32" "$root/build"
"$root/scripts/run-tests.sh" --sanitize
"$root/scripts/run-tests.sh" --tsan
# Every fuzz target for a short bounded time, so that a regression in a parser shows at once.
"$root/scripts/fuzz.sh" 30
