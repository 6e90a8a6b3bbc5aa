#!/usr/bin/env bash
# run-windows-tests.sh MINGW_BUILD LINUX_BUILD: a Windows build under wine, each in a prefix of
# its own in the build folder: the x86-64 build (build-mingw64) under wine64, the x86 build
# (build-mingw32) under Debian's 32-bit wine in a 32-bit prefix (WINEARCH=win32).
# 1. every unit suite of the MinGW build (ctest runs each under wine);
# 2. frcli.exe --library with the DLL runs a receipt against the Linux frsim over TCP loopback;
# 3. the same over a serial port: wine's COM5 mapped to frsim's pseudo-terminal;
# 4. the DLL as a COM server: regsvr32, then the COM test host as an 8.x and as a 7.7 host.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
win=$(cd "$1" && pwd)
lin=$(cd "$2" && pwd)
tool=$(sed -n 's/^CMAKE_AR:[A-Z]*=//p' "$win/CMakeCache.txt")
case ${tool##*/} in
  x86_64-w64-mingw32-*)
    arch=x86-64 wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
    export WINEARCH=win64 ;;
  i686-w64-mingw32-*)
    # Debian's wine32 puts its loader only under /usr/lib/wine (the "wine" package adds the
    # wrapper in /usr/bin); scripts/setup.sh --windows installs it.
    arch=x86 wine=/usr/lib/wine/wine
    export WINEARCH=win32 ;;
  *) echo "run-windows-tests: $win is not a MinGW build (archiver '$tool')" >&2; exit 2 ;;
esac
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
runs_i386=0
[ "$arch" != x86 ] || "$root/scripts/kernel-runs-i386.sh" || runs_i386=$?
if [ "$runs_i386" -eq 1 ]; then
  # A kernel built or booted without IA-32 emulation refuses every 32-bit program: nothing 32-bit
  # can run on it, which says nothing about the build. Said loudly, never passed over.
  cat >&2 <<'END'
=====================================================================================
x86 under 32-bit wine: NOT RUN. This kernel does not execute 32-bit programs (IA-32
emulation is off; boot it with ia32_emulation=on). The x86 build was built, its suites
compiled and its DLL checked statically only. FR_REQUIRE_X86_RUN=1 makes this an error.
=====================================================================================
END
  echo "wine x86: NOT RUN (kernel without IA-32 emulation)"
  [ -z "${FR_REQUIRE_X86_RUN:-}" ] || exit 1
  exit 0
fi
[ -x "$wine" ] || { echo "run-windows-tests: $wine is missing: run scripts/setup.sh --windows" >&2; exit 1; }
export WINEPREFIX="$win/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export FR_APPDATA_DIR="$win/appdata"
mkdir -p "$FR_APPDATA_DIR"
work="$win/wine-e2e"
mkdir -p "$work"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine ($arch): creating the prefix" >&2
  timeout 300 "$wine" wineboot -i >/dev/null 2>&1
  timeout 120 "$wineserver" -w
fi

(cd "$win" && ctest --output-on-failure -j 2)

frsim="$lin/tools/frsim/frsim"
frcli="$win/tools/frcli/frcli.exe"
dll="$win/src/addin/native/fr_tarvikonline1c83.dll"

# Starts frsim with the given options as a coprocess and reads its first line into sim_line.
start_frsim() {
  coproc SIM { exec "$frsim" "$@" --fiscal --shift-open </dev/null; }
  sim_pid=$SIM_PID
  IFS= read -r -t 30 sim_line <&"${SIM[0]}" || { echo "frsim did not start" >&2; exit 1; }
}
stop_frsim() {
  kill -TERM "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
}

# Runs the receipt script through the DLL; every call must answer true.
run_receipt() {
  local name=$1 port_number=$2 ip_port=$3
  sed -e "s/@PORT_NUMBER@/$port_number/" -e "s/@IP_PORT@/$ip_port/" "$root/tests/windows/receipt.json.in" \
    >"$work/$name.json"
  # Diagnostics (and those of the wine server this call may start) go to a file of their own.
  (cd "$work" && timeout 300 "$wine" "$frcli" --library "$dll" script "$name.json") >"$work/$name.out" \
    2>"$work/$name.err" || { cat "$work/$name.err" >&2; exit 1; }
  cat "$work/$name.out"
  local calls ok
  calls=$(grep -c '"call"' "$work/$name.out" || true)
  ok=$(grep -c '"return":true' "$work/$name.out" || true)
  if [ "$calls" -ne 9 ] || [ "$ok" -ne "$calls" ]; then
    echo "wine $arch $name receipt: $ok of $calls calls answered true" >&2
    exit 1
  fi
  echo "wine $arch $name receipt: $ok of $calls calls answered true"
}

start_frsim --tcp 0
trap stop_frsim EXIT
run_receipt tcp 9999 "${sim_line##*:}"
stop_frsim

start_frsim --pty
pty=${sim_line#pty }
# wine maps COM5 to the pseudo-terminal through its registry; the new map takes effect when the
# wine server starts again.
"$wine" reg add 'HKLM\Software\Wine\Ports' /v COM5 /t REG_SZ /d "$pty" /f >/dev/null
"$wineserver" -k >/dev/null 2>&1 || true
"$wineserver" -w >/dev/null 2>&1 || true
run_receipt serial 5 0
stop_frsim
trap - EXIT

WINE=$wine "$root/tests/com/run-wine-com.sh" "$dll" "$win/tests/com/com_client.exe" "$frsim" "$work/com"
"$wineserver" -k >/dev/null 2>&1 || true
