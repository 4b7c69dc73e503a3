#!/usr/bin/env bash
# Kill test: a bump's delay record must survive the host being killed.
#   kill-test.sh SIM DBCHECK [RUNS]
# Each run starts the simulator on a scenario that bumps a user, kills it
# with SIGKILL as soon as the bump's hangup line shows in the trace (a little
# later each run), checks the delay file with SQLite's integrity_check, and
# then runs a second scenario on the same directory in which that user must
# be refused. Prints the number of records lost; exits 1 if any was.
sim=$1 dbcheck=$2 runs=${3:-50}
here=$(cd "$(dirname "$0")" && pwd)
. "$(dirname "$0")/../lib.sh"

lost=0 corrupt=0 refused=0 midrun=0
for ((i = 0; i < runs; i++)); do
  dir=$work/run$i
  mkdir -p "$dir"
  cp "$here/kill.mcv" "$dir/zorgaval.mcv"
  fifo=$work/trace$i
  mkfifo "$fifo"
  "$sim" --dir "$dir" "$here/bump.scn" >"$fifo" 2>/dev/null &
  pid=$!
  # Each run waits i × 200 microseconds after the hangup line before the kill.
  delay=$(printf '0.%06d' $((i * 200)))
  while IFS= read -r line; do
    case $line in
      *" hangup "*) sleep "$delay"; kill -KILL "$pid" 2>/dev/null; break ;;
    esac
  done <"$fifo"
  wait "$pid" 2>/dev/null
  # 137: the kill landed while the program was still running (not after it
  # had ended by itself), which is the case the test is about.
  [ $? = 137 ] && midrun=$((midrun + 1))
  rm -f "$fifo"
  if ! "$dbcheck" "$dir/zorgaval.dat" >/dev/null; then
    corrupt=$((corrupt + 1))
    echo "run $i: integrity_check failed" >&2
  fi
  out=$("$sim" --dir "$dir" "$here/refuse.scn" 2>&1)
  if grep -q 'logon 1 "Kim Demo" rejected' <<<"$out"; then
    refused=$((refused + 1))
  else
    lost=$((lost + 1))
    echo "run $i: record lost" >&2
  fi
done
echo "kill test: $runs runs ($midrun killed while running), $lost records lost, $corrupt failed integrity_check, $refused refused"
[ "$lost" = 0 ] && [ "$corrupt" = 0 ]
