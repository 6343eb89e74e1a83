#!/usr/bin/env bash
# pintrail under valgrind's memcheck, with all four switches against the map
# host, on the camera corpus (when present), 10,000 JPEGs and 3,000 pictures
# in six formats (ALLFORMATS), with reading threads and without: no error,
# no leak, no descriptor left open. The map host's leaks and memory errors
# are the sanitizer build's: every test that starts one wants a clean end.
set -euo pipefail
build=$1
command -v valgrind >/dev/null || { echo "SKIP: valgrind missing"; exit 0; }
work=$(mktemp -d)
trap 'kill $host 2>/dev/null || true; rm -rf "$work"' EXIT
export REXX_PORT_DIR="$work/ports"
"$build/pintrail-maphost" QUIET GPX="$work/all.gpx" &
host=$!
"$build/pintrail-fixtures" library "$work/library" 10000
"$build/pintrail-fixtures" mixed "$work/mixed" 3000
check() { # DIR THREADS [ALLFORMATS]
  local log="$work/memcheck.log"
  PINTRAIL_THREADS=$2 valgrind --leak-check=full --show-leak-kinds=all --errors-for-leak-kinds=all \
    --error-exitcode=99 --track-fds=yes --log-file="$log" \
    "$build/pintrail" "$1" VERBOSE POSITION WAYPOINT PICLIST ${3:-} >"$work/out"
  # Descriptors the tool opened itself and left open (not inherited ones).
  open=$(awk '/Open (file descriptor|AF_UNIX socket)/ {fd=1; next} fd && /inherited from parent/ {fd=0; next}
              fd && /at 0x/ {leaked++; fd=0} END {print leaked+0}' "$log")
  echo "memcheck $1 ${3:-}, $2 threads: $(wc -l <"$work/out") lines, $(grep -m1 -o 'ERROR SUMMARY: [0-9]*' "$log"), $open left open"
  grep -q 'ERROR SUMMARY: 0 ' "$log" && [ "$open" = 0 ] || { cat "$log"; exit 1; }
}
[ -d "$2" ] && check "$2" 2 ALLFORMATS || echo "no camera corpus at $2"
check "$work/library" 2
check "$work/mixed" 1 ALLFORMATS
kill $host
wait $host || true

echo "memcheck: ok"
