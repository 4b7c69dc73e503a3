#!/usr/bin/env bash
# Hostile data files through the real program: each case puts a bad
# zorgaval.dat or accounts.dat (or a bad log, journal or directory beside
# it) in the host's directory, runs a scenario, and wants exit status 1, a
# message naming the file and the reason, and the files' bytes unchanged.
# Then two hosts on one directory, a full disk, and a too long path.
#   data-files.sh SIM DBTOOL
sim=$1 dbtool=$2
. "$(dirname "$0")/../lib.sh"
holder=""
disk=""
atExit() {
  if [ -n "$holder" ]; then kill "$holder" 2>/dev/null; wait "$holder" 2>/dev/null; fi
  if [ -n "$disk" ]; then umount "$disk" 2>/dev/null; fi
}
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
# The trace stays open while the host is killed: a reader that went away
# would let the host end by itself, closing its files cleanly.
exec {crash}<"$work/crash"
while IFS= read -r line <&"$crash" && [[ $line != *" hangup "* ]]; do :; done
kill -KILL "$crashed" 2>/dev/null
wait "$crashed" 2>/dev/null
exec {crash}<&-
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
  [ "$failures" = "$had" ] && echo "ok ${name%%/*}"
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
goodAccounts() { cp "$good/accounts.dat" "$1"; }
journalDirectory() { goodAccounts "$1" && mkdir "$1-journal"; }
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
runCase untagged-log     zorgaval.dat "zorgaval.dat-wal beside it is not its own log (a commit in it leaves the file's identity out)" logNoIdentity
runCase earlier-host-log zorgaval.dat "zorgaval.dat-wal beside it holds changes that cannot be proven its own" earlierHostLog
runCase log-directory    zorgaval.dat "zorgaval.dat-wal is a directory, where SQLite keeps the file's log" logDirectory
runCase journal-dir      accounts.dat "accounts.dat-journal is a directory" journalDirectory
runCase long-path/$(printf 'p%.0s' {1..200})/$(printf 'q%.0s' {1..200})/$(printf 'r%.0s' {1..200}) \
  accounts.dat "its path is" goodAccounts
if [ "$(id -u)" = 0 ]; then
  # nobody runs a copy of the program and its module from inside $work,
  # since the build tree may lie in a directory only root can enter.
  mkdir -p "$work/bin"
  cp "$sim" "$(dirname "$sim")/zorgaval.so" "$work/bin/"
  chmod 755 "$work/bin"
  rootSim=$sim sim=$work/bin/$(basename "$sim")
  runner=("${asNobody[@]}")
  runCase read-only-file zorgaval.dat "is read-only for this host (Permission denied)" readOnly
  runCase read-only-dir  accounts.dat "its directory $work/read-only-dir is read-only for this host (Permission denied)" readOnlyDir
  runner=() sim=$rootSim
else
  skip "read-only file and directory (they run as nobody, which needs root)"
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

# A full disk: a small tmpfs fills up while the host bumps a user every 20
# seconds, so the delay file refuses inserts mid-run. Nothing crashes, each
# refused insert is a warning, every record stored is listed and still there
# when the directory is opened again, and the run ends with status 1.
if [ "$(id -u)" != 0 ]; then
  skip "full disk (mounting a tmpfs needs root)"
elif ! { mkdir -p "$work/disk" && mount -t tmpfs -o size=1m tmpfs "$work/disk"; }; then
  skip "full disk (a tmpfs cannot be mounted here)"
else
  disk=$work/disk
  had=$failures
  cp "$(dirname "$0")/../kill/kill.mcv" "$disk/zorgaval.mcv"
  {
    printf 'clock 2024-03-05 20:00:00\nchannels 4\n'
    printf 'account "Kim Demo" keys $4\naccount "Pat Filler"\naccount "Lee Filler"\n'
    for ((i = 1; i <= 300; i++)); do printf 'account "Guest %03d" keys $4\n' "$i"; done
    printf 'start\nlogon 0 "Kim Demo"\nlogon 1 "Pat Filler"\nlogon 2 "Lee Filler"\nat 20:00:30\n'
    for ((i = 1; i <= 300; i++)); do printf 'logon 0 "Guest %03d"\nwait 20\n' "$i"; done
    echo delays
  } >"$work/full.scn"
  "$sim" --dir "$disk" "$work/full.scn" >"$work/full.out" 2>"$work/full.err"
  got=$?
  bumps=$(grep -c 'audit "Gaval bumped' "$work/full.out")
  refused=$(grep -c 'warning "zorgaval.dat: cannot insert' "$work/full.out")
  stored=$(awk '/ delays$/ { n = 0 } / delay "/ { n++ } END { print n + 0 }' "$work/full.out")
  [ "$got" -lt 128 ] || fail "full-disk: ended by signal $((got - 128))"
  [ "$refused" -gt 0 ] && [ "$stored" -gt 0 ] ||
    fail "full-disk: wanted some records stored and some refused: $stored stored, $refused refused, $bumps bumps"
  [ "$stored" = $((bumps - refused)) ] ||
    fail "full-disk: $bumps bumps, $refused refused, but $stored records listed"
  [ "$got" = 1 ] || fail "full-disk: exit status $got, wanted 1; stderr: $(tail -3 "$work/full.err")"
  # The directory off the full disk, opened again: the same records.
  cp -a "$disk" "$work/after-full"
  umount "$disk" && disk=""
  printf 'clock 2024-03-05 23:00:00\nchannels 4\ndelays\n' >"$work/list.scn"
  "$sim" --dir "$work/after-full" "$work/list.scn" >"$work/list.out" 2>"$work/list.err" ||
    fail "full-disk: the directory cannot be opened again: $(cat "$work/list.err")"
  [ "$(grep -o 'delay ".*' "$work/full.out" | sort)" = "$(grep -o 'delay ".*' "$work/list.out" | sort)" ] ||
    fail "full-disk: the records listed again differ"
  [ "$failures" = "$had" ] && echo "ok full-disk ($bumps bumps, $stored records stored, $refused refused)"
fi

# Two hosts started together on a directory with no data files yet, 20
# times: exactly one runs and the other is refused at the directory; neither
# claims a file the other made, and the files left are whole. Each host's
# trace goes to a FIFO read only once one host has ended, so the one that
# runs is held (by more trace than a pipe holds) until the other has had
# its try, however slow the machine. The option and description files are
# there already: the program writes its samples before the host locks the
# directory.
{ cat "$scn"; for ((i = 0; i < 2000; i++)); do echo "logoff 0"; echo "logon 0 Demo"; done; } >"$work/race.scn"
had=$failures
for ((try = 0; try < 20; try++)); do
  dir=$work/race$try
  mkdir -p "$dir"
  cp "$good/zorgaval.mcv" "$good/ZORGAVAL.MDF" "$dir/"
  rm -f "$work/race-a" "$work/race-b"
  mkfifo "$work/race-a" "$work/race-b"
  exec {fifoA}<>"$work/race-a" {fifoB}<>"$work/race-b"
  "$sim" --dir "$dir" "$work/race.scn" >"$work/race-a" 2>"$work/race-a.err" &
  a=$!
  "$sim" --dir "$dir" "$work/race.scn" >"$work/race-b" 2>"$work/race-b.err" &
  b=$!
  wait -n "$a" "$b"
  # Drained through read-only ends, which see the end once the hosts close.
  exec {drainA}<"$work/race-a" {drainB}<"$work/race-b" {fifoA}<&- {fifoB}<&-
  cat <&"$drainA" >/dev/null &
  cat <&"$drainB" >/dev/null &
  exec {drainA}<&- {drainB}<&-
  wait "$a"; gotA=$?
  wait "$b"; gotB=$?
  wait
  case "$gotA$gotB" in
    01) loser=b ;;
    10) loser=a ;;
    *) fail "race $try: exit statuses $gotA and $gotB, wanted one 0 and one 1: $(cat "$work"/race-?.err)"; continue ;;
  esac
  grep -qF "$dir: in use by another host (the directory is locked)" "$work/race-$loser.err" ||
    fail "race $try: the refused host did not say why: $(cat "$work/race-$loser.err")"
  grep -q "wrote accounts.dat\|wrote zorgaval.dat" "$work/race-$loser.err" &&
    fail "race $try: the refused host claims a data file: $(cat "$work/race-$loser.err")"
  [ -s "$dir/accounts.dat" ] && [ -s "$dir/zorgaval.dat" ] || fail "race $try: a data file is empty"
done
[ "$failures" = "$had" ] && echo "ok start-race (20 tries)"

finish
