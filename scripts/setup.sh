#!/usr/bin/env bash
# Installs what the project needs from Debian packages, only when something is missing.
# With --windows also the MinGW-w64 cross-compilers, wine64 and pugixml's Debian source
# (Debian packages pugixml's compiled library for Linux only).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
pkgs=(cmake g++ make ninja-build libgtest-dev libgmock-dev libbenchmark-dev libpugixml-dev libfmt-dev
      libcli11-dev nlohmann-json3-dev zip ccache pkg-config libcpp-httplib-dev libsqlite3-dev chromium)
windows=0
if [ "${1:-}" = "--windows" ]; then
  windows=1
  pkgs+=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 googletest binutils-mingw-w64-x86-64
         binutils-mingw-w64-i686 unzip)
fi
pkgs+=(clang-14 libclang-rt-14-dev)  # the fuzz targets (scripts/fuzz.sh)
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}" >&2
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
((windows)) || exit 0

# pugixml's source: the Debian source package of the installed libpugixml-dev, fetched with apt
# from a source list of our own (the machine's apt configuration is left as it is) and checked
# by apt against Debian's signed index.
deps="$root/.deps/pugixml"
version=$(dpkg-query -W -f='${Version}' libpugixml-dev)
if [ ! -f "$deps/src/pugixml.cpp" ] || [ "$(cat "$deps/version" 2>/dev/null)" != "$version" ]; then
  echo "setup: fetching the Debian source of pugixml $version" >&2
  rm -rf "$deps"
  mkdir -p "$deps/apt/lists/partial" "$deps/dl"
  suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian $suite main" \
    >"$deps/apt/sources.list"
  apt_opts=(-q -o "Dir::Etc::SourceList=$deps/apt/sources.list" -o "Dir::Etc::SourceParts=$deps/apt/none"
            -o "Dir::State::Lists=$deps/apt/lists" -o "APT::Sandbox::User=root")
  apt-get "${apt_opts[@]}" update >/dev/null
  (cd "$deps/dl" && apt-get "${apt_opts[@]}" source --download-only "pugixml=$version" >/dev/null)
  mkdir -p "$deps/tree"
  tar -xzf "$deps"/dl/pugixml_*.orig.tar.gz -C "$deps/tree" --strip-components=1
  mkdir -p "$deps/src"
  cp "$deps/tree/src/pugixml.cpp" "$deps/tree/src/pugixml.hpp" "$deps/tree/src/pugiconfig.hpp" "$deps/src/"
  rm -rf "$deps/apt" "$deps/tree"
  echo "$version" >"$deps/version"
fi
