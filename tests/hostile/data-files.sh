#!/usr/bin/env bash
# Hostile data files through the real program: each case puts a bad
# zorgaval.dat or accounts.dat (or a bad log, journal or directory beside
# it) in the host's directory, runs a scenario, and wants exit status 1, a
# message naming the file and the reason, and the files' bytes unchanged.
# Then two hosts on one directory, a full disk, and a too long path.
#   data-files.sh SIM DBTOOL
set -u
sim=$1 dbtool=$2
work=$(mktemp -d)
holder=""
disk=""
cleanup() {
  if [ -n "$holder" ]; then kill "$holder" 2>/dev/null; wait "$holder" 2>/dev/null; fi
  if [ -n "$disk" ]; then umount "$disk" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL $*" >&2; failures=$((failures + 1)); }
chmod 755 "$work"  # the unprivileged cases run inside it
runner=()          # what runs the host: as root, or as nobody
asNobody=(setpriv --reuid=65534 --regid=65534 --clear-groups)

scn=$work/plain.scn
cat >"$scn" <<'EOF'
clock 2024-03-05 20:00:00
channels 4
account Demo keys $4
start
logon 0 Demo
delays
EOF

# A sound delay file with records in it, and a sound account file, from a
# run of the host itself: the starting point of the truncations.
good=$work/good
mkdir -p "$good"
cat >"$work/bump.scn" <<'EOF'
clock 2024-03-05 20:00:00
channels 4
account Demo keys $4
start
logon 0 Demo
at 20:03:00
EOF
sed -e 's/^18 = 1F .*/18 = 02/' -e 's/^16 = 30 .*/16 = 120/' \
  "$(dirname "$0")/../../examples/zorgaval.mcv" >"$good/zorgaval.mcv"
"$sim" --dir "$good" "$work/bump.scn" >/dev/null 2>&1 || { echo "FAIL setup run" >&2; exit 1; }
[ -s "$good/zorgaval.dat" ] && [ ! -e "$good/zorgaval.dat-wal" ] ||
  { echo "FAIL setup: no closed delay file" >&2; exit 1; }
pagesize=$(( $(od -An -tu1 -j16 -N2 "$good/zorgaval.dat" | awk '{print $1 * 256 + $2}') ))

# The log of another host's delay file, left by a host killed after a bump
# while it was held still by a trace nobody reads.
other=$work/other
mkdir -p "$other"
cp "$good/zorgaval.mcv" "$other/"
{ cat "$work/bump.scn"; for ((i = 0; i < 3000; i++)); do echo delays; done; } >"$work/crash.scn"
mkfifo "$work/crash"
"$sim" --dir "$other" "$work/crash.scn" >"$work/crash" 2>/dev/null &
crashed=$!
while IFS= read -r line && [[ $line != *" hangup "* ]]; do :; done <"$work/crash" &
wait $!
kill -KILL "$crashed" 2>/dev/null
wait "$crashed" 2>/dev/null
[ -s "$other/zorgaval.dat-wal" ] || { echo "FAIL setup: no log left by the killed host" >&2; exit 1; }
# A hot journal of a database of another program.
"$dbtool" journal "$work/notes.db"
[ -s "$work/notes.db-journal" ] || { echo "FAIL setup: no hot journal" >&2; exit 1; }

# Bytes that look like nothing: the same ones every run.
randomBytes() { awk 'BEGIN { srand(7); for (i = 0; i < 8192; i++) printf "%c", int(rand() * 255) + 1 }' >"$1"; }

# case: NAME FILE REASON PREPARE...; PREPARE makes FILE (a path in $dir).
runCase() {
  local name=$1 file=$2 reason=$3
  shift 3
  local dir=$work/$name had=$failures
  mkdir -p "$dir"
  cp "$good/zorgaval.mcv" "$dir/"
  "$@" "$dir/$file" || { fail "$name: could not prepare"; return; }
  local before after
  # The file, its companions, and what a directory in their place holds.
  before=$(find "$dir" -path "$dir/$file*" -type f -exec sha256sum {} + 2>/dev/null | sort)
  "${runner[@]}" "$sim" --dir "$dir" "$scn" >"$dir/out" 2>"$dir/err"
  local got=$?
  after=$(find "$dir" -path "$dir/$file*" -type f -exec sha256sum {} + 2>/dev/null | sort)
  [ "$got" = 1 ] || fail "$name: exit status $got, wanted 1; stderr: $(cat "$dir/err")"
  grep -qF -- "$file: $reason" "$dir/err" ||
    fail "$name: stderr lacks \"$file: $reason\"; it was: $(cat "$dir/err")"
  [ "$before" = "$after" ] || fail "$name: $file changed"
  [ -n "$before" ] || [ -d "$dir/$file" ] || fail "$name: $file is gone"
  grep -q ' logon \| delay ' "$dir/out" && fail "$name: scenario events ran: $(cat "$dir/out")"
  [ "$failures" = "$had" ] && echo "ok $name"
}

truncated() { head -c "$1" "$good/zorgaval.dat" >"$2"; }
cutHeader() { truncated 60 "$1"; }
cutPage() { truncated $((pagesize + pagesize / 2)) "$1"; }
cutPages() { truncated "$pagesize" "$1"; }
foreign() { "$dbtool" foreign "$1"; }
otherLength() { "$dbtool" make "$1" 40 && "$dbtool" put "$1" demo "$(printf '64656d6f%072d' 0)"; }
directory() { mkdir "$1" && echo keep >"$1/inside"; }
emptyText() { printf 'SQLite format 3\0' >"$1"; }
wrongLengths() { "$dbtool" make "$1" 34 && "$dbtool" put "$1" demo 64656d6f00; }
goodDelays() { cp "$good/zorgaval.dat" "$1"; }
otherLog() { goodDelays "$1" && cp "$other/zorgaval.dat-wal" "$1-wal"; }
otherJournal() { goodDelays "$1" && cp "$work/notes.db-journal" "$1-journal"; }
delayHex=$(printf '64656d6f%060d' 0)  # "demo", 34 bytes
logNoIdentity() { goodDelays "$1" && "$dbtool" wal "$1" demo "$delayHex"; }
earlierHostLog() { "$dbtool" make "$1" 34 && "$dbtool" wal "$1" demo "$delayHex"; }
logDirectory() { goodDelays "$1" && mkdir "$1-wal"; }
journalDirectory() { cp "$good/accounts.dat" "$1" && mkdir "$1-journal"; }
# For the unprivileged cases: the directory is nobody's.
readOnly() { goodDelays "$1" && chown -R 65534:65534 "$(dirname "$1")" && chmod 444 "$1"; }
readOnlyDir() {
  cp "$good/accounts.dat" "$good/ZORGAVAL.MDF" "$(dirname "$1")/" &&
    chown -R 65534:65534 "$(dirname "$1")" && chmod 555 "$(dirname "$1")"
}
held() {
  cp "$good/zorgaval.dat" "$1"
  coproc HOLD { "$dbtool" hold "$1"; }
  holder=$HOLD_PID
  local line; read -r line <&"${HOLD[0]}"
  [ "$line" = held ]
}

runCase random-delay     zorgaval.dat "not a data file of this host (not an SQLite database)" randomBytes
runCase random-accounts  accounts.dat "not a data file of this host (not an SQLite database)" randomBytes
runCase cut-header       zorgaval.dat "damaged: truncated within its header" cutHeader
runCase cut-page         zorgaval.dat "damaged: truncated (not a whole number of pages)" cutPage
runCase cut-pages        zorgaval.dat "damaged: truncated (shorter than its header says)" cutPages
runCase header-only      zorgaval.dat "damaged: truncated within its header" emptyText
runCase foreign-delay    zorgaval.dat "not a data file of this host (an SQLite database of another program)" foreign
runCase foreign-accounts accounts.dat "not a data file of this host (an SQLite database of another program)" foreign
runCase length-40        zorgaval.dat "holds records of 40 bytes, not 34" otherLength
runCase short-records    zorgaval.dat "damaged: 1 records are not 34 bytes long" wrongLengths
runCase dir-delay        zorgaval.dat "is a directory, not a data file" directory
runCase dir-accounts     accounts.dat "is a directory, not a data file" directory
runCase locked-delay     zorgaval.dat "in use by another host (database is locked)" held
if [ -n "$holder" ]; then exec {HOLD[1]}>&-; wait "$holder"; holder=""; fi
runCase foreign-log      zorgaval.dat "zorgaval.dat-wal beside it is not its own log (it is the log of another data file)" otherLog
runCase foreign-journal  zorgaval.dat "zorgaval.dat-journal beside it is not its own" otherJournal
runCase untagged-log     zorgaval.dat "zorgaval.dat-wal beside it is not its own log (it changes the file but not its identity)" logNoIdentity
runCase earlier-host-log zorgaval.dat "zorgaval.dat-wal beside it holds changes that cannot be proven its own" earlierHostLog
runCase log-directory    zorgaval.dat "zorgaval.dat-wal is a directory, where SQLite keeps the file's log" logDirectory
runCase journal-dir      accounts.dat "accounts.dat-journal is a directory" journalDirectory
runCase long-path/$(printf 'p%.0s' {1..200})/$(printf 'q%.0s' {1..200})/$(printf 'r%.0s' {1..200}) \
  accounts.dat "its path is" journalDirectory
if [ "$(id -u)" = 0 ]; then
  runner=("${asNobody[@]}")
  runCase read-only-file zorgaval.dat "is read-only for this host (Permission denied)" readOnly
  runCase read-only-dir  accounts.dat "its directory $work/read-only-dir is read-only for this host (Permission denied)" readOnlyDir
  runner=()
else
  echo "skipped: read-only file and directory (they run as nobody, which needs root)"
fi

# A second host on a directory whose host is still running: the first is
# held still by a trace nobody reads (longer than a pipe holds), so it keeps
# its files locked while the second starts. The second is refused at the
# directory itself, before any file in it is touched.
dir=$work/second-host
mkdir -p "$dir"
cp -r "$good/." "$dir/"
{ cat "$scn"; for ((i = 0; i < 3000; i++)); do echo delays; done; } >"$work/long.scn"
mkfifo "$work/trace"
"$sim" --dir "$dir" "$work/long.scn" >"$work/trace" 2>/dev/null &
holder=$!
exec {trace}<"$work/trace"
read -r line <&"$trace"
until [[ $line == *" delay "* ]]; do read -r line <&"$trace" || break; done
sums=$(sha256sum "$dir/accounts.dat" "$dir/zorgaval.dat")
"$sim" --dir "$dir" "$scn" >"$dir/out" 2>"$dir/err"
got=$?
[ "$got" = 1 ] || fail "second-host: exit status $got, wanted 1; stderr: $(cat "$dir/err")"
grep -qF "$dir: in use by another host (the directory is locked)" "$dir/err" ||
  fail "second-host: stderr lacks the lock; it was: $(cat "$dir/err")"
kill -0 "$holder" 2>/dev/null || fail "second-host: the first host was not running"
[ "$sums" = "$(sha256sum "$dir/accounts.dat" "$dir/zorgaval.dat")" ] || fail "second-host: files changed"
exec {trace}<&-
kill "$holder" 2>/dev/null
wait "$holder" 2>/dev/null
holder=""
[ "$failures" = 0 ] && echo "ok second-host"

[ "$failures" = 0 ] || { echo "$failures failures" >&2; exit 1; }
