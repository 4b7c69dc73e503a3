# The board's systemd unit as systemd scores it: `systemd-analyze security`
# offline, an exposure of 1.2 or below, with no capability (ports below
# 1024 come from the socket units); and the settings the service relies
# on (readiness, its directories, no restart loop on a bad option file, its
# configuration file and a reload by signal).
# Skipped where systemd-analyze is missing or too old for --offline.
# usage: unit-security.sh UNIT
. "$(dirname "$0")/../lib.sh"
unit=$1
limit=1.2

for setting in Type=notify StateDirectory=zorgaval LogsDirectory=zorgaval \
  RestartPreventExitStatus=2 User=zorgaval PrivateUsers=yes 'CapabilityBoundingSet=$' \
  'ExecStart=/usr/bin/zorgaval-board --config /etc/zorgaval/board.conf$' \
  'ExecReload=/bin/kill -HUP $MAINPID$'; do
  grep -q "^$setting" "$unit" || fail "$unit: no $setting"
done
grep -q '^AmbientCapabilities=' "$unit" && fail "$unit: a capability is granted"

if ! command -v systemd-analyze >/dev/null; then
  skip "systemd-analyze is not installed"
  finish
fi
# The unit file's own name is the unit's name, so score a copy named so.
cp "$unit" "$work/zorgaval-board.service"
if ! systemd-analyze security --offline=yes "$work/zorgaval-board.service" \
  >"$work/score" 2>&1; then
  if grep -q -e 'unrecognized option' -e 'Unknown option' "$work/score"; then
    skip "systemd-analyze has no --offline"
    finish
  fi
fi
# The socket units beside it as systemd loads them: no unknown setting,
# each naming its socket for the board and triggering the service.
sed 's|^\(Exec[A-Za-z]*=\)[^ ]*|\1/bin/true|' "$unit" >"$work/zorgaval-board.service"
cp "$(dirname "$unit")"/zorgaval-board*.socket "$work/"
(cd "$work" && systemd-analyze verify --man=no zorgaval-board*.socket zorgaval-board.service) \
  >"$work/verify" 2>&1 && ! [ -s "$work/verify" ] || fail "the units do not load: $(cat "$work/verify")"
for name in telnet ssh web; do
  grep -lqx "FileDescriptorName=$name" "$work"/zorgaval-board*.socket || fail "no socket named $name"
done
score=$(sed -n 's/.*Overall exposure level for zorgaval-board.service: \([0-9.]*\).*/\1/p' "$work/score")
if [ -z "$score" ]; then
  fail "systemd-analyze gave no score: $(tail -n 3 "$work/score")"
elif awk -v s="$score" -v l="$limit" 'BEGIN { exit !(s > l) }'; then
  grep '✗' "$work/score" >&2
  fail "the unit's exposure is $score, above $limit"
else
  echo "exposure $score (limit $limit)"
fi
finish
