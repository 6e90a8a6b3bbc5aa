#!/usr/bin/env bash
# Installs what the project needs from Debian packages, only when something is missing.
set -euo pipefail
pkgs=(cmake g++ make ninja-build libgtest-dev libgmock-dev libbenchmark-dev libpugixml-dev libfmt-dev
      libcli11-dev nlohmann-json3-dev zip)
pkgs+=(clang-14 libclang-rt-14-dev)  # the fuzz targets (scripts/fuzz.sh)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}" >&2
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
