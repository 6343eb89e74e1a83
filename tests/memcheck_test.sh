#!/usr/bin/env bash
# pintrail under valgrind's memcheck, with all four switches against the map
# host: the camera corpus (when present) and a library of 10,000 pictures.
# No error, no leak, and no descriptor left open but the standard three.
set -euo pipefail
build=$1
corpus=$2
command -v valgrind >/dev/null || { echo "SKIP: valgrind missing"; exit 0; }
work=$(mktemp -d)
trap 'kill $host 2>/dev/null || true; rm -rf "$work"' EXIT
export REXX_PORT_DIR="$work/ports"
"$build/pintrail-maphost" QUIET GPX="$work/all.gpx" &
host=$!
for _ in $(seq 200); do [ -S "$REXX_PORT_DIR/VANTORA.1" ] && break; sleep 0.05; done
"$build/pintrail-fixtures" library "$work/library" 10000

check() { # DIR: one run under memcheck
  local log="$work/memcheck.log"
  valgrind --tool=memcheck --leak-check=full --show-leak-kinds=all \
    --errors-for-leak-kinds=all --error-exitcode=99 --track-fds=yes \
    --log-file="$log" "$build/pintrail" "$1" VERBOSE POSITION WAYPOINT PICLIST >"$work/out"
  local errors open
  errors=$(grep -m1 'ERROR SUMMARY' "$log" | sed -E 's/.*ERROR SUMMARY: ([0-9]+).*/\1/')
  # Descriptors the tool opened itself and left open (not inherited ones).
  open=$(awk '/Open (file descriptor|AF_UNIX socket)/ {fd=1; next}
              fd && /inherited from parent/ {fd=0; next}
              fd && /at 0x/ {leaked++; fd=0}
              END {print leaked+0}' "$log")
  echo "memcheck $1: $(wc -l <"$work/out") lines, $errors errors, $open descriptors left open"
  grep -E 'definitely|indirectly|possibly|still reachable' "$log" | sed 's/^==[0-9]*== */  /' || true
  if [ "$errors" != 0 ] || [ "$open" != 0 ]; then
    cat "$log"
    exit 1
  fi
}
[ -d "$corpus" ] && check "$corpus" || echo "no camera corpus at $corpus"
check "$work/library"
echo "memcheck: ok"
