#!/usr/bin/env bash
# `make bench`: the module's benchmarks beside their baselines, then a whole
# board-day through the real simulator, timed with /usr/bin/time.
#   run-bench.sh BUILD-DIR
set -eu
build=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/bench/module_bench" --benchmark_min_time="${BENCH_MIN_TIME:-0.5}"

# The board-day: the sample option file with the watched range moved to
# the top 32 channels, which callers reach only when the board is nearly
# full, as on a board whose hunt group hands out the lowest free channel.
sed -e 's/^17 = 00 /17 = E0 /' -e 's/^18 = 1F /18 = FF /' \
  "$here/../examples/zorgaval.mcv" >"$work/boardday.mcv"
"$build/bench/boardday" "$work/boardday.mcv" "$work/boardday.scn"
mkdir "$work/dir"
cp "$work/boardday.mcv" "$work/dir/zorgaval.mcv"
/usr/bin/time -v "$build/zorgaval-sim" --dir "$work/dir" "$work/boardday.scn" \
  >"$work/trace" 2>"$work/time"
wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time")
rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time")
user=$(sed -n 's/.*User time (seconds): //p' "$work/time")
sys=$(sed -n 's/.*System time (seconds): //p' "$work/time")
count() { grep -c -- "$1" "$work/trace" || true; }
echo
echo "board-day: 256 channels, 24 hours"
printf '  %-34s %s\n' \
  "trace lines" "$(wc -l <"$work/trace")" \
  "log-ons accepted" "$(count ' accepted$')" \
  "log-offs and hang-ups" "$(count ' hangup ')" \
  "warnings" "$(count 'audit "Gaval warned')" \
  "bumps" "$(count 'audit "Gaval bumped')" \
  "refused log-ons" "$(count 'audit "Gaval delayed')" \
  "wall time (goal under 1 s)" "$wall" \
  "CPU time, user + system" "$user + $sys s" \
  "peak memory (goal under 20 MB)" "$((rss / 1024)) MB ($rss kB)"

# The board-day replayed as a board's trace under four option files: the
# reserve of 2 it ran with, and 0, 4 and 8 channels kept free.
awk -f "$here/board-trace.awk" "$work/trace" >"$work/board.trace"
files=()
for reserve in 2 0 4 8; do
  sed -e "s/^15 = 2 /15 = $reserve /" "$work/boardday.mcv" >"$work/reserve$reserve.mcv"
  files+=("reserve$reserve.mcv")
done
sim=$(cd "$build" && pwd)/zorgaval-sim
(cd "$work" && /usr/bin/time -v "$sim" --replay board.trace --dir dir "${files[@]}" \
  >table 2>time)
echo
echo "board-day replayed under four option files ($(grep -c ' call ' "$work/board.trace") calls)"
head -9 "$work/table"
wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time")
rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time")
printf '  %-34s %s\n' \
  "wall time, four runs (goal under 2 s)" "$wall" \
  "peak memory (goal under 64 MB)" "$((rss / 1024)) MB ($rss kB)"

# The live board: delivery latency beside a plain fan-out server, memory
# and CPU per line (about 90 s).
"$here/board/run-board-bench.sh" "$build" "${BENCH_SECONDS:-6}"
