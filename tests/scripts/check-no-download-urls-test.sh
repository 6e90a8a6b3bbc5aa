#!/usr/bin/env bash
# The URL check on small trees: each row is a file, a line in it, and whether the check passes.
set -euo pipefail
check=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0
while IFS='|' read -r file line expect; do
  rm -rf "$tmp/t"
  mkdir -p "$tmp/t/$(dirname "$file")"
  printf '%s\n' "$line" >"$tmp/t/$file"
  if "$check" "$tmp/t" >/dev/null 2>&1; then got=pass; else got=fail; fi
  [ "$got" = "$expect" ] || { echo "FAIL $file: '$line': $got, expected $expect"; fail=1; }
done <<'ROWS'
scripts/setup.sh|echo "deb http://mirror.example/debian bookworm main"|fail
cmake/Deps.cmake|file(DOWNLOAD https://mirror.example/x.tar.gz x.tar.gz)|fail
.ci/run|curl -O https://mirror.example/tool|fail
src/lib/CMakeLists.txt|FetchContent_Declare(x URL http://mirror.example/x.zip)|fail
CMakeLists.txt|set(m "<bundle xmlns=\"http://mirror.example/ns\">")|pass
cmake/M.cmake|<a xmlns:b='https://mirror.example/ns'/> https://mirror.example/f|fail
scripts/setup.sh|# apt fetches from the machine's own sources|pass
tests/x/data.txt|http://mirror.example/debian|pass
build-mingw64/CMakeLists.txt|http://mirror.example/debian|pass
ROWS
exit $fail
