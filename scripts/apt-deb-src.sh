#!/usr/bin/env bash
# apt-deb-src.sh OUTDIR [SOURCE_FILE...]: turns the binary ("deb") entries of apt source files
# into source ("deb-src") entries of the same archives, written to OUTDIR/sources.list (from the
# one-line format) and OUTDIR/sources.list.d/machine.sources (from the deb822 format). Options
# such as signed-by are kept. Without SOURCE_FILEs it reads the files the machine's apt reads,
# so that a source fetch uses the mirror the machine is set up with.
set -euo pipefail
[[ $# -ge 1 ]] || { echo "usage: $0 OUTDIR [SOURCE_FILE...]" >&2; exit 2; }
out=$1
shift
files=("$@")
if ((${#files[@]} == 0)); then
  eval "$(apt-config shell list Dir::Etc::SourceList/f parts Dir::Etc::SourceParts/d)"
  [[ -f ${list:-} ]] && files+=("$list")
  shopt -s nullglob
  [[ -n ${parts:-} ]] && files+=("$parts"*.list "$parts"*.sources)
fi
mkdir -p "$out/sources.list.d"
: >"$out/sources.list"
: >"$out/sources.list.d/machine.sources"
for f in "${files[@]}"; do
  case $f in
    *.sources)
      # One stanza per paragraph; field names are case-insensitive. A stanza whose Types has
      # "deb" becomes a deb-src one, others are dropped.
      awk 'BEGIN { RS = ""; ORS = "\n\n" }
           { n = split($0, line, "\n"); text = ""; keep = 0
             for (i = 1; i <= n; i++) {
               if (tolower(line[i]) ~ /^types:/) {
                 if (line[i] !~ /^[^:]*:(.*[ \t])?deb([ \t].*)?$/) break
                 keep = 1; line[i] = "Types: deb-src"
               }
               text = text (text == "" ? "" : "\n") line[i]
             }
             if (keep) print text }' "$f" >>"$out/sources.list.d/machine.sources"
      ;;
    *)
      sed -e 's/[[:space:]]*#.*//' -n -e 's/^[[:space:]]*deb[[:space:]]\+/deb-src /p' "$f" >>"$out/sources.list"
      ;;
  esac
done
