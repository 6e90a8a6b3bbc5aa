#!/usr/bin/env bash
# check-no-download-urls.sh ROOT: fails, naming each line, when a download URL (http:// or
# https://) appears in the build and CI files of the source tree ROOT: scripts/, cmake/, .ci/
# and every CMakeLists.txt. Packages come from the machine's own apt sources, never from a host
# written into the project. An XML namespace (xmlns="http://...") names no host to fetch from.
set -euo pipefail
root=$1
cd "$root"
found=$({ find scripts cmake .ci -type f 2>/dev/null
          find . \( -path ./.git -o -path './build*' -o -path ./.deps \) -prune -o -name CMakeLists.txt -print; } |
        sort -u | xargs -r grep -nHE 'https?://' |
        sed -E 's/xmlns(:[A-Za-z0-9_.-]+)?=\\?["'\'']https?:\/\/[^"'\''\\ ]*//g' | grep -E 'https?://' || true)
if [ -n "$found" ]; then
  printf '%s\n' "$found"
  echo "download URLs in the build files: packages come from the machine's apt sources" >&2
  exit 1
fi
