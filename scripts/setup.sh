#!/usr/bin/env bash
# Installs what the project needs from Debian packages, only when something is missing.
# With --windows also the MinGW-w64 cross-compilers, wine64, the i386 architecture with wine32
# (for the x86 build's tests) and pugixml's Debian source (Debian packages pugixml's compiled
# library for Linux only).
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

# wine32 (i386). The amd64 and i386 copies of a Multi-Arch: same library must be of one version;
# when an installed amd64 library came from an update the i386 index does not offer, apt would
# rather remove it and what depends on it (wine64 among them). So each such library wine32 pulls
# in is pinned: the i386 copy to the installed amd64 version where the index has it, else both
# to the newest version both architectures have, together with the other installed packages of
# its source (a -dev package needs its library's exact version). Nothing is ever removed.
install_wine32() {
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "setup: enabling the i386 architecture" >&2
    "${sudo_cmd[@]}" dpkg --add-architecture i386
  fi
  echo "setup: installing wine32" >&2
  "${sudo_cmd[@]}" apt-get update -qq ||
    echo "setup: apt-get update reported errors; going on with the indexes apt has" >&2
  local needed installed pairs offered pins=() p src have a i w best manual prefs prefparts=
  needed=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
             --no-replaces --no-enhances wine32:i386 | sed -n 's/^\([^ <].*\):i386$/\1/p' | sort -u)
  installed=$(dpkg-query -W -f='${Package} ${Architecture} ${Multi-Arch} ${db:Status-Abbrev} ${Version} ${source:Package}\n' |
                awk '$2 == "amd64" && $3 == "same" && $4 ~ /^ii/ { print $1, $5, $6 }' | sort)
  pairs=$(join <(printf '%s\n' "$needed") <(printf '%s\n' "$installed"))
  # Every version the indexes offer of these, as "package[:i386] version" lines.
  offered=$(awk '{ print $1; print $1 ":i386" }' <<<"$pairs" | xargs -r apt-cache madison |
              awk -F' [|] ' '{ gsub(/ /, "", $1); print $1, $2 }')
  prefs=$(mktemp -d)
  eval "$(apt-config shell prefparts Dir::Etc::PreferencesParts/d)"
  [ -d "$prefparts" ] && find "$prefparts" -maxdepth 1 -type f -exec cp {} "$prefs/" \;
  while read -r p have src; do
    [ -n "$p" ] || continue
    a=$(awk -v p="$p" '$1 == p { print $2 }' <<<"$offered")
    i=$(awk -v p="$p:i386" '$1 == p { print $2 }' <<<"$offered")
    if grep -qxF -- "$have" <<<"$i"; then
      pins+=("$p:i386=$have")
      best=$have
    else
      best=
      for w in $i; do
        grep -qxF -- "$w" <<<"$a" || continue
        if [ -z "$best" ] || dpkg --compare-versions "$w" gt "$best"; then best=$w; fi
      done
      [ -n "$best" ] || { echo "setup: cannot install wine32: no version of $p is offered for both amd64" \
                            "and i386 (amd64 has $have installed)" >&2; exit 1; }
      echo "setup: $p: amd64 has $have, the i386 index has not; both to $best" >&2
      pins+=("$p:amd64=$best" "$p:i386=$best")
    fi
    printf 'Package: src:%s:any\nPin: version %s\nPin-Priority: 1001\n\n' "$src" "$best" >>"$prefs/zz-wine32.pref"
  done <<<"$pairs"
  manual=$(apt-mark showmanual)
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends --no-remove \
    --allow-downgrades -o "Dir::Etc::PreferencesParts=$prefs" wine32:i386 "${pins[@]}" ||
    { echo "setup: installing wine32 failed; the x86 build cannot be tested under 32-bit wine" >&2; exit 1; }
  rm -rf "$prefs"
  # The pins installed what wine32 needs; they stay marked as installed for it, not by hand.
  for p in "${pins[@]}"; do
    p=${p%%=*}
    p=${p%:amd64}
    grep -qxF -- "$p" <<<"$manual" || "${sudo_cmd[@]}" apt-mark auto "$p" >/dev/null
  done
}
if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
  # On a kernel that runs no 32-bit program wine32 could not start: installing it would only cost
  # minutes. run-windows-tests.sh says so loudly in place of the x86 run.
  runs_i386=0
  "$root/scripts/kernel-runs-i386.sh" || runs_i386=$?
  if [ "$runs_i386" -eq 1 ]; then
    echo "setup: this kernel runs no 32-bit program (IA-32 emulation is off): wine32 not installed" >&2
  else
    install_wine32
  fi
fi

# pugixml's source: the Debian source package of the installed libpugixml-dev, fetched with apt
# from a source list of our own, made from the machine's apt sources (its mirror, its keys; the
# machine's apt configuration is left as it is), and checked by apt against the signed index.
deps="$root/.deps/pugixml"
version=$(dpkg-query -W -f='${Version}' libpugixml-dev)
if [ ! -f "$deps/src/pugixml.cpp" ] || [ "$(cat "$deps/version" 2>/dev/null)" != "$version" ]; then
  echo "setup: fetching the Debian source of pugixml $version" >&2
  rm -rf "$deps"
  mkdir -p "$deps/apt/lists/partial" "$deps/dl"
  "$root/scripts/apt-deb-src.sh" "$deps/apt"
  apt_opts=(-q -o "Dir::Etc::SourceList=$deps/apt/sources.list" -o "Dir::Etc::SourceParts=$deps/apt/sources.list.d"
            -o "Dir::State::Lists=$deps/apt/lists" -o "APT::Sandbox::User=root")
  # An archive of the machine without sources is only a warning; the fetch below says if none has it.
  apt-get "${apt_opts[@]}" update >/dev/null ||
    echo "setup: apt-get update of the source indexes reported errors; going on" >&2
  (cd "$deps/dl" && apt-get "${apt_opts[@]}" source --download-only "pugixml=$version" >/dev/null) ||
    { echo "setup: the source of pugixml $version is not in the machine's apt sources" >&2; exit 1; }
  mkdir -p "$deps/tree"
  tar -xzf "$deps"/dl/pugixml_*.orig.tar.gz -C "$deps/tree" --strip-components=1
  mkdir -p "$deps/src"
  cp "$deps/tree/src/pugixml.cpp" "$deps/tree/src/pugixml.hpp" "$deps/tree/src/pugiconfig.hpp" "$deps/src/"
  rm -rf "$deps/apt" "$deps/tree"
  echo "$version" >"$deps/version"
fi
