#!/usr/bin/env bash
# pintrail under valgrind's memcheck, with all four switches against the map
# host, on the camera corpus (when present), 10,000 JPEGs and 3,000 pictures
# in six formats (ALLFORMATS), with reading threads and without: no error,
# no leak, no descriptor left open.
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

# The map host itself, with its files and the web view: a page, a thumbnail,
# a live client and one that never reads while 2,000 commands arrive.
log="$work/host.log"
valgrind --leak-check=full --errors-for-leak-kinds=definite,indirect,possible --error-exitcode=99 \
  --track-fds=yes --log-file="$log" "$build/pintrail-maphost" WEB GPX="$work/web.gpx" \
  HTML="$work/web.html" >"$work/host.out" &
host=$!
for _ in $(seq 600); do grep -q token= "$work/host.out" 2>/dev/null && break; sleep 0.1; done
url=$(grep -o 'http://[^ ]*' "$work/host.out")
port=${url#http://127.0.0.1:}; port=${port%%/*}; token=${url#*token=}
ask() { # PATH: the response's status line
  exec 3<>"/dev/tcp/127.0.0.1/$port"
  printf 'GET %s HTTP/1.1\r\nHost: 127.0.0.1:%s\r\nConnection: close\r\n\r\n' "$1" "$port" >&3
  head -1 <&3
  exec 3<&-
}
exec 4<>"/dev/tcp/127.0.0.1/$port" 5<>"/dev/tcp/127.0.0.1/$port"
for fd in 4 5; do printf 'GET /events?token=%s HTTP/1.1\r\nHost: 127.0.0.1:%s\r\n\r\n' "$token" "$port" >&$fd; done
cat <&4 >/dev/null & # reads; 5 never does
"$build/pintrail" "$work/library/0" WAYPOINT PICLIST >/dev/null
"$build/pintrail" "$work/library/1" WAYPOINT PICLIST >/dev/null
statuses="$(ask "/?token=$token") $(ask "/thumb/1?token=$token") $(ask /)"
kill $host
wait $host || true
exec 4<&- 5<&-
open=$(awk '/Open (file descriptor|AF_UNIX socket|AF_INET)/ {fd=1; next} fd && /inherited from parent/ {fd=0; next}
            fd && /at 0x/ {leaked++; fd=0} END {print leaked+0}' "$log")
echo "memcheck map host with the web view: $(grep -c '<wpt' "$work/web.gpx") waypoints kept, $(grep -m1 -o 'ERROR SUMMARY: [0-9]*' "$log"), $open left open"
[[ $statuses == *"200 OK"*"200 OK"*"403 Forbidden"* ]] || { echo "web view answered: $statuses"; exit 1; }
grep -q 'ERROR SUMMARY: 0 ' "$log" && [ "$open" = 0 ] || { cat "$log"; exit 1; }
echo "memcheck: ok"
