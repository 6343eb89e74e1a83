#!/usr/bin/env bash
# Installs into a temporary prefix: what lands where, the manual pages under
# mandoc's lint, and the bash completion for both programs.
set -euo pipefail
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$1" --prefix "$prefix" >/dev/null
for f in bin/pintrail bin/pintrail-maphost share/man/man1/pintrail.1 share/man/man1/pintrail-maphost.1; do
  [ -e "$prefix/$f" ] || { echo "missing $f"; exit 1; }
done
completion=$(find "$prefix" -path '*completions/pintrail' -type f)
[ -e "$(dirname "$completion")/pintrail-maphost" ] || { echo "no completion for both"; exit 1; }
# References between the two pages resolve once installed where mandoc looks.
lint=$(mandoc -Tlint "$prefix"/share/man/man1/*.1 2>&1 | grep -v 'referenced manual not found: Xr pintrail' || true)
[ -z "$lint" ] || { echo "$lint"; exit 1; }
offered() { bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _pintrail; echo "${COMPREPLY[@]}"' _ "$completion" "$@"; }
words=$(offered pintrail Photos VERBOSE P) # the keywords not yet given
[[ $words == *"POSITION"* && $words == *"PICLIST"* && $words != *VERBOSE* ]] || { echo "offered: $words"; exit 1; }
words=$(offered pintrail-maphost "")
[[ $words == "PORT GPX QUIET WEB WEBPORT OPEN TILES HTML DETACH" ]] || { echo "maphost completion offered: $words"; exit 1; }
echo "install: ok"
