#!/usr/bin/env bash
# apt-deb-src.sh on sample source files of both formats against the expected deb-src lists:
# binary entries turned into source ones with their options, everything else left out.
set -euo pipefail
conv=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cat >"$tmp/sources.list" <<'IN'
# a comment
deb http://mirror.example/debian bookworm main contrib
  deb [arch=amd64 signed-by=/usr/share/keyrings/a.gpg] http://mirror.example/debian bookworm-updates main # trailing
deb-src http://mirror.example/debian bookworm main
#deb http://mirror.example/old bookworm main
debian http://mirror.example/not-a-type bookworm main
IN
cat >"$tmp/machine.sources" <<'IN'
# header comment only

Types: deb
URIs: http://mirror.example/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

types: deb deb-src
uris: http://mirror.example/security
suites: bookworm-security
components: main
signed-by:
 -----BEGIN PGP PUBLIC KEY BLOCK-----
 .
 mDMEZ
 -----END PGP PUBLIC KEY BLOCK-----

Types: deb-src
URIs: http://mirror.example/only-src
Suites: bookworm
Components: main

Types: debian
URIs: http://mirror.example/not-a-type
Suites: bookworm
Components: main
IN
"$conv" "$tmp/out" "$tmp/sources.list" "$tmp/machine.sources"
diff -u - "$tmp/out/sources.list" <<'OUT'
deb-src http://mirror.example/debian bookworm main contrib
deb-src [arch=amd64 signed-by=/usr/share/keyrings/a.gpg] http://mirror.example/debian bookworm-updates main
OUT
diff -u - "$tmp/out/sources.list.d/machine.sources" <<'OUT'
Types: deb-src
URIs: http://mirror.example/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
uris: http://mirror.example/security
suites: bookworm-security
components: main
signed-by:
 -----BEGIN PGP PUBLIC KEY BLOCK-----
 .
 mDMEZ
 -----END PGP PUBLIC KEY BLOCK-----

OUT
