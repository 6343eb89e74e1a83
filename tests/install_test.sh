#!/usr/bin/env bash
# Installs into a temporary prefix and checks what lands where, the manual
# pages under mandoc's lint and the bash completion.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/pintrail bin/pintrail-maphost share/man/man1/pintrail.1 \
         share/man/man1/pintrail-maphost.1; do
  [ -e "$prefix/$f" ] || { echo "missing $f"; exit 1; }
done
completion=$(find "$prefix" -path '*completions/pintrail' -type f)
[ -n "$completion" ] || { echo "no bash completion"; exit 1; }
[ -e "$(dirname "$completion")/pintrail-maphost" ] || { echo "no maphost completion"; exit 1; }

# Clean but for references between the two pages, which resolve once they
# are installed where mandoc looks.
lint=$(mandoc -Tlint "$prefix"/share/man/man1/*.1 2>&1 |
       grep -v 'referenced manual not found: Xr pintrail' || true)
[ -z "$lint" ] || { echo "$lint"; exit 1; }

# The completion offers the keywords not yet given.
words=$(bash -c 'source "$1"; COMP_WORDS=(pintrail Photos VERBOSE P); COMP_CWORD=3
  _pintrail; echo "${COMPREPLY[@]}"' _ "$completion")
[[ $words == *"POSITION"* && $words == *"PICLIST"* && $words != *VERBOSE* ]] ||
  { echo "completion offered: $words"; exit 1; }
words=$(bash -c 'source "$1"; COMP_WORDS=(pintrail-maphost ""); COMP_CWORD=1
  _pintrail; echo "${COMPREPLY[@]}"' _ "$completion")
[[ $words == "PORT GPX QUIET" ]] || { echo "maphost completion offered: $words"; exit 1; }
echo "install: ok"
