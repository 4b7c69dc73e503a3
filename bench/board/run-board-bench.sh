#!/usr/bin/env bash
# The live board's benchmark: a board with 256 accounts on a free loopback
# port, the baseline fan-out server beside it, and board_latency between.
#   run-board-bench.sh BUILD-DIR [SECONDS-PER-WINDOW]
# The accounts (an Argon2id hash each) are made once and kept in the build
# tree; a run copies them into a fresh directory.
set -eu
build=$(cd "$1" && pwd) seconds=${2:-6}
board=$build/zorgaval-board latency=$build/bench/board/board_latency
work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait; rm -rf "$work"' EXIT

# Starts a board on DIR; sets port and pid.
start_board() {
  : >"$work/stderr"
  "$board" --dir "$1" --listen 127.0.0.1:0 --channels 256 >"$work/trace" 2>"$work/stderr" &
  pid=$!
  pids+=("$pid")
  for _ in $(seq 100); do
    port=$(sed -n 's/^zorgaval-board: listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/stderr")
    [ -n "$port" ] && return
    sleep 0.1
  done
  echo "board did not start: $(cat "$work/stderr")" >&2
  exit 1
}

accounts=$build/bench/board/accounts
seq -f 'load%03g' 0 255 >"$work/users"
if [ ! -e "$accounts/ready" ]; then
  rm -rf "$accounts"
  mkdir -p "$accounts"
  start_board "$accounts"
  # With the board running, each `account add` hashes in its own process.
  xargs -P 2 -I USER sh -c 'echo bench-pw | "$0" account add USER --dir "$1" >/dev/null' \
    "$board" "$accounts" <"$work/users"
  kill -TERM "$pid"
  wait "$pid"
  touch "$accounts/ready"
fi
cp -r "$accounts" "$work/dir"
rm -f "$work/dir/ready"
start_board "$work/dir"

"$latency" serve >"$work/base-port" &
pids+=($!)
until [ -s "$work/base-port" ]; do sleep 0.05; done

echo
"$build/bench/board/hash_ceiling" 200

echo
echo "live board: teleconference delivery over loopback, $seconds s windows"
"$latency" measure "$(cat "$work/base-port")" "$port" "$pid" "$work/users" bench-pw "$seconds"

# The same accounts on a board that takes SSH too, and the OpenSSH client.
kill -TERM "$pid"
wait "$pid" || true
cp -r "$accounts" "$work/sshdir"
rm -f "$work/sshdir/ready"
: >"$work/stderr"
"$board" --dir "$work/sshdir" --listen 127.0.0.1:0 --ssh 127.0.0.1:0 --channels 256 \
  >"$work/trace" 2>"$work/stderr" &
pid=$!
pids+=("$pid")
for _ in $(seq 100); do
  sshport=$(sed -n 's/^zorgaval-board: ssh listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/stderr")
  [ -n "$sshport" ] && break
  sleep 0.1
done
port=$(sed -n 's/^zorgaval-board: listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/stderr")
echo
echo "live board over SSH beside telnet, $seconds s window"
python3 "$(dirname "$0")/ssh_bench.py" "$pid" "$sshport" "$port" "$work/users" bench-pw "$seconds"

kill -TERM "$pid"
wait "$pid" || true

# The dearest key exchange offered by default, in a storm, against telnet's
# prompt on a board of its own.
echo
echo "telnet's prompt during a storm of SSH key exchanges, $seconds s windows"
python3 "$(dirname "$0")/ssh_storm.py" "$board" "$seconds"

# The same teleconference over WebSocket beside telnet, and the memory of
# 256 WebSocket callers.
python3 "$(dirname "$0")/web_bench.py" "$board" "$accounts" bench-pw "$seconds"

# The front door: a keystroke through it beside the same keystroke sent to
# the board behind, the memory of 256 carried callers, CPU per MB carried.
echo
python3 "$(dirname "$0")/door_bench.py" "$board" "$accounts" bench-pw
