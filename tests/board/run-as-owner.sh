#!/bin/bash
# root's `account` and `ctl` on a DIR a service user owns act as that user:
# the files they leave are the user's, so the board started as that user
# opens them, and root's `ctl` reaches the board's socket (mode 0600).
# Needs root and useradd: skipped (77) otherwise.
# usage: run-as-owner.sh BOARD
board=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../lib.sh"
if [ "$(id -u)" != 0 ] || ! command -v useradd >/dev/null || ! command -v setpriv >/dev/null; then
  skip "needs root, useradd and setpriv"
  finish
fi
user=zgtest$$
pid=
atExit() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  userdel "$user" 2>/dev/null
}
useradd --system --no-create-home --shell /usr/sbin/nologin "$user" || exit 1
chmod 755 "$work"
dir=$work/board
mkdir "$dir" && chown "$user:" "$dir"

echo a-pass | "$board" account add alice --keys DEMO --dir "$dir" >/dev/null ||
  fail "root's account add on $user's DIR"
echo b-pass | "$board" account add "Gus Guest" --dir "$dir" >/dev/null ||
  fail "root's second account add"
others=$(find "$dir" ! -user "$user")
[ -z "$others" ] || fail "files not $user's after root's account add: $others"

as_user=(setpriv --reuid="$user" --regid="$user" --init-groups)
"${as_user[@]}" "$board" --dir "$dir" --listen 127.0.0.1:0 >"$work/trace" 2>"$work/err" &
pid=$!
for _ in $(seq 50); do
  [ -S "$dir/zorgaval-board.ctl" ] && break
  sleep 0.1
done
out=$("$board" ctl who --dir "$dir" 2>&1) || fail "root's ctl who on $user's board: $out"
out=$("$board" account list --dir "$dir" 2>&1)
case "$out" in
  *'account "alice" keys "DEMO"'*'"Gus Guest"'*) ;;
  *) fail "root's account list through $user's board: $out" ;;
esac
"$board" ctl shutdown --dir "$dir" >/dev/null 2>&1
wait "$pid"
status=$?
pid=
[ "$status" = 0 ] || fail "the board as $user ended with $status: $(cat "$work/err")"
grep -q 'read-only' "$work/err" && fail "the board could not write: $(cat "$work/err")"
others=$(find "$dir" ! -user "$user")
[ -z "$others" ] || fail "files not $user's at the end: $others"
finish
