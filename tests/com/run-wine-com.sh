#!/usr/bin/env bash
# The COM add-in under wine: registered with wine's regsvr32, created by its programmatic
# identifier from the test client (as an 8.x host, and as a 7.7 host under the name 1cv7.exe),
# each running a receipt against a fresh Linux frsim over TCP loopback; then unregistered.
#
#   run-wine-com.sh DLL CLIENT_EXE FRSIM WORKDIR
#
# WORKDIR holds the add-in's data folder (logs) and, unless WINEPREFIX names one, the wine prefix
# (created on first use).
set -euo pipefail
[[ $# -eq 4 ]] || { echo "usage: $0 DLL CLIENT_EXE FRSIM WORKDIR" >&2; exit 2; }
dll=$(realpath "$1") client=$(realpath "$2") frsim=$(realpath "$3") work=$4
mkdir -p "$work"
work=$(realpath "$work")

wine=${WINE:-}
if [[ -z $wine ]]; then
  for w in wine64 wine /usr/lib/wine/wine64; do
    if command -v "$w" >/dev/null; then wine=$(command -v "$w"); break; fi
  done
fi
[[ -n $wine ]] || { echo "wine64 is not installed" >&2; exit 2; }

export WINEPREFIX=${WINEPREFIX:-$work/prefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Unix paths as the Windows side sees them (wine maps / to drive Z:).
winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }
rm -rf "$work/appdata"
mkdir -p "$work/appdata" "$work/bin"
export FR_APPDATA_DIR="$(winpath "$work/appdata")\\"

cp "$client" "$work/bin/com_client.exe"
cp "$client" "$work/bin/1cv7.exe"

status=0
echo "== wine regsvr32 $(winpath "$dll")"
timeout 300 "$wine" regsvr32 "$(winpath "$dll")" || status=1

for host in com_client.exe 1cv7.exe; do
  # A fresh register for each host; its control input and its output through FIFOs.
  rm -f "$work/sim.in" "$work/sim.out"
  mkfifo "$work/sim.in" "$work/sim.out"
  "$frsim" --tcp 0 --fiscal <"$work/sim.in" >"$work/sim.out" &
  simPid=$!
  exec 3>"$work/sim.in" 4<"$work/sim.out"
  read -r line <&4
  port=${line##*:}
  echo "== $host against frsim on 127.0.0.1:$port"
  timeout 300 "$wine" "$(winpath "$work/bin/$host")" "$port" || status=1
  echo quit >&3
  echo "== frsim tape"
  cat <&4 || true
  exec 3>&- 4<&-
  wait "$simPid" || true
done

echo "== wine regsvr32 /u"
timeout 300 "$wine" regsvr32 /u "$(winpath "$dll")" || status=1
"$wine" reg query 'HKLM\Software\Classes\AddIn.fr_tarvikonline1c83' >/dev/null 2>&1 &&
  { echo "FAIL the ProgID is still registered"; status=1; }
echo "== wine COM tests: $([[ $status -eq 0 ]] && echo passed || echo FAILED)"
exit $status
