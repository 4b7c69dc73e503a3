# The sample logrotate file rotates the module's event log and report by a
# plain rename: after a forced rotation the old lines sit in .1 untouched,
# and the module's next run writes a new file of the old name. Paths and
# user are put to a scratch directory and the caller. Skipped where
# logrotate is missing.
# usage: logrotate-test.sh ZORGAVAL_SIM LOGROTATE_CONF
. "$(dirname "$0")/../lib.sh"
sim=$1
conf=$2
command -v logrotate >/dev/null || { skip "logrotate is not installed"; finish; }

dir=$work/board
(cd "$work" && "$sim" --dir "$dir" >/dev/null 2>"$work/run1.err") ||
  { fail "the first run: $(tail -n 3 "$work/run1.err")"; finish; }
for f in zorgaval.log zorgaval.rpt; do
  [ -s "$dir/$f" ] || fail "the first run wrote no $f"
done
before=$(sha256sum <"$dir/zorgaval.log")

sed -e "s|/var/log/zorgaval|$dir|g" -e "s|su zorgaval zorgaval|su $(id -un) $(id -gn)|" \
  "$conf" >"$work/rotate.conf"
logrotate -s "$work/state" -f "$work/rotate.conf" >"$work/rotate.out" 2>&1 ||
  fail "logrotate: $(cat "$work/rotate.out")"
for f in zorgaval.log zorgaval.rpt; do
  [ -s "$dir/$f.1" ] || fail "$f was not rotated to $f.1"
  [ -e "$dir/$f" ] && fail "$f is still there after its rotation"
done

# The second run finds the accounts of the first taken and stops with 2;
# the module has opened its log by then, and the rotated one is untouched.
(cd "$work" && "$sim" --dir "$dir" >/dev/null 2>&1)
[ -s "$dir/zorgaval.log" ] || fail "the module wrote no new zorgaval.log after the rotation"
[ "$(sha256sum <"$dir/zorgaval.log.1")" = "$before" ] ||
  fail "the rotated zorgaval.log.1 changed after the rotation"
finish
