#!/bin/bash
# Runs telnet.exp against a board on a free loopback port, in a scratch
# directory, with the sample options narrowed to a range of four channels.
# usage: telnet.sh BOARD
board=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../lib.sh"
dir=$work
pid=
atExit() { [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; }

sed -e 's/^15 = 2 /15 = 1 /' -e 's/^18 = 1F/18 = 03/' "$here/../../examples/zorgaval.mcv" >"$dir/small.mcv"
for who in alice:a-pass:DEMO bob:b-pass:WATCHER carol:c-pass:BASIC; do
  IFS=: read -r id pw key <<<"$who"
  echo "$pw" | "$board" account add "$id" --keys "$key" --dir "$dir" >/dev/null || exit 1
done
timeout -s KILL 60 "$board" --dir "$dir" --listen 127.0.0.1:0 --options "$dir/small.mcv" \
  --channels 4 --clock "2026-12-08 19:00:00" --speed 20 >"$dir/trace" 2>"$dir/err" &
pid=$!
for _ in $(seq 50); do
  port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$dir/err")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "the board did not start:"; cat "$dir/err"; exit 1; }
expect -f "$here/telnet.exp" "$port"
