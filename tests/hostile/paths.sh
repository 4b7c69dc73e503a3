#!/usr/bin/env bash
# Hostile paths through the real program: event log and report paths that
# name the host's own files, FIFOs and directories where files belong, a
# DIR that cannot be examined, endless input, a closed standard output, a
# control byte in a path, and a disk that fills up. Nothing may hang,
# abort, or touch a file it was refused.
# The live board vets options 28 and 29 as the simulator does.
#   paths.sh SIM BOARD
sim=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
board=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
samples=$(cd "$(dirname "$0")/../../examples" && pwd)
. "$(dirname "$0")/../lib.sh"
atExit() { umount "$work/small" 2>/dev/null; }

# expect NAME STATUS TEXT COMMAND...: the command's status, and TEXT on its
# standard error; a run that hangs past 20 seconds fails as status 124.
expect() {
  local name=$1 want=$2 text=$3
  shift 3
  timeout 20 "$@" >"$work/out" 2>"$work/err" </dev/null
  local got=$?
  if [ "$got" != "$want" ]; then fail "$name: status $got, wanted $want: $(head -c 400 "$work/err")"
  elif [ -n "$text" ] && ! grep -qF -- "$text" "$work/err"; then fail "$name: stderr lacks \"$text\": $(head -c 400 "$work/err")"
  else echo "ok $name"; fi
}

# A host directory that has run once: samples, data files, event log.
host=$work/host
"$sim" --dir "$host" >/dev/null 2>&1 || fail "first run"
mkfifo "$host/fifo" "$work/fifo"
mkdir "$host/adir"
ln "$host/zorgaval.dat" "$host/alias.dat"
ln -s . "$host/here"
cp "$host/zorgaval.mcv" "$work/sample.mcv"
line28=$(grep -n '^28 = ' "$work/sample.mcv" | cut -d: -f1)

# ---- options 28 and 29 that name a host file, or a FIFO or directory:
# status 2 with the option's line, before anything runs; every file of DIR
# byte for byte as it was. The same with --check.
# N VALUE TEXT
while read -r n value text; do
  sed "s|^$n = .*|$n = $value|" "$work/sample.mcv" >"$host/zorgaval.mcv"
  line=$(grep -n "^$n = " "$host/zorgaval.mcv" | cut -d: -f1)
  before=$(hashes "$host")
  expect "option $n = $value" 2 "zorgaval.mcv:$line: option $n: \"$value\" is $text" \
    "$sim" --dir "$host"
  [ "$before" = "$(hashes "$host")" ] || fail "option $n = $value: a file of DIR changed"
  expect "board: option $n = $value" 2 "zorgaval.mcv:$line: option $n: \"$value\" is $text" \
    "$board" --dir "$host" --listen 127.0.0.1:0
  [ "$before" = "$(hashes "$host")" ] || fail "board: option $n = $value: a file of DIR changed"
  expect "check: option $n = $value" 2 "" "$sim" --check "$host/zorgaval.mcv" --dir "$host"
  grep -qF "option $n: \"$value\" is $text" "$work/out" || fail "check: option $n = $value: $(cat "$work/out")"
done <<'EOF'
28 zorgaval.dat the host's delay file
29 accounts.dat the host's account file
28 zorgaval.mcv the option file in use
29 ZORGAVAL.MDF the module description file
28 zorgaval.dat-wal the -wal beside the host's delay file
29 accounts.dat-journal the -journal beside the host's account file
28 ./adir/../zorgaval.dat the host's delay file
28 alias.dat the host's delay file
29 here/accounts.dat the host's account file
28 fifo a FIFO
29 adir a directory
EOF
cp "$work/sample.mcv" "$host/zorgaval.mcv"

# ---- an option file that holds no option, or cannot be read: one line
# naming it, status 2, from both programs, before the module starts.
: >"$work/empty.mcv"
printf '# only a comment\n\n' >"$work/comments.mcv"
for opts in empty.mcv comments.mcv missing.mcv; do
  case $opts in missing.mcv) text="cannot be read: No such file or directory" ;;
                *) text="the option file is empty" ;; esac
  expect "sim: --options $opts" 2 "$work/$opts: $text" "$sim" --dir "$work/one" \
    --options "$work/$opts"
  [ "$(wc -l <"$work/err")" = 1 ] || fail "sim: --options $opts: $(cat "$work/err")"
  expect "board: --options $opts" 2 "$work/$opts: $text" "$board" --dir "$work/one" \
    --options "$work/$opts" --listen 127.0.0.1:0
  [ "$(wc -l <"$work/err")" = 1 ] || fail "board: --options $opts: $(cat "$work/err")"
done
[ -e "$work/one/zorgaval.log" ] && fail "an event log was written by a refused start"

# ---- the board's listen address: a name resolves; one in use is found
# before the module starts, so the refused start leaves no event log.
coproc holder { exec python3 -c 'import socket, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen()
print(s.getsockname()[1], flush=True); time.sleep(30)'; }
read -r taken <&"${holder[0]}"
expect "board: --listen in use" 1 "cannot listen on 127.0.0.1:$taken" \
  "$board" --dir "$work/inuse" --listen "127.0.0.1:$taken"
[ -e "$work/inuse/zorgaval.log" ] && fail "board: --listen in use: the module wrote its event log"
kill "$holder_PID" 2>/dev/null
timeout -s INT 2 "$board" --dir "$work/named" --listen localhost:0 >/dev/null 2>"$work/err"
grep -qE "listening on (127\.0\.0\.1|\[::1\]):[0-9]+" "$work/err" && echo "ok board: --listen localhost:0" ||
  fail "board: --listen localhost:0: $(head -c 300 "$work/err")"

# ---- what a start may run with but a sysop would not want: warned of on
# standard error and in the trace by the board, and by --check.
sed -e 's|^28 = .*|28 = nowhere/zorgaval.log|' -e 's|^17 = 00 |17 = 1F |' \
  -e 's|^18 = 1F |18 = 00 |' -e 's|^25 = .*|25 = "18:00:00"|' "$work/sample.mcv" >"$work/odd.mcv"
timeout -s INT 3 "$board" --dir "$work/odd" --options "$work/odd.mcv" --channels 3 \
  --listen 127.0.0.1:0 >"$work/out" 2>"$work/err"
for text in "option 28: $work/odd/nowhere/zorgaval.log: its directory" "no account yet" \
  "the watched range 00 to 1F reaches past the board's channels 00 to 02" \
  "options 17 and 18: the watched range is given backwards (1F to 00)" \
  "options 24 and 25: the delay window starts and ends at 18:00:00"; do
  grep -qF -- "$text" "$work/err" || fail "board start: no warning \"$text\": $(head -c 600 "$work/err")"
  grep -q ' warning ' "$work/out" || fail "board start: no warning in the trace"
done
"$sim" --check "$work/odd.mcv" --dir "$work/odd" >"$work/out" 2>&1
for text in "option 28: $work/odd/nowhere/zorgaval.log: its directory" \
  "options 17 and 18: the watched range is given backwards" \
  "options 24 and 25: the delay window starts and ends"; do
  grep -qF -- "$text" "$work/out" || fail "check: no warning \"$text\": $(head -c 600 "$work/out")"
done
echo "ok start-up warnings"

# ---- inputs that are FIFOs or directories are refused, never waited on;
# a character device as the event log and a pipe as standard input are fine.
expect "FIFO scenario" 2 "cannot read the scenario $work/fifo: is a FIFO" "$sim" --dir "$host" "$work/fifo"
expect "FIFO --options" 2 "$work/fifo: is a FIFO" "$sim" --dir "$host" --options "$work/fifo"
expect "directory --options" 2 "$work/: is a directory" "$sim" --dir "$host" --options "$work/"
expect "FIFO --check" 2 "" "$sim" --check "$work/fifo"
grep -qF "is a FIFO" "$work/out" || fail "FIFO --check: $(cat "$work/out")"
for name in zorgaval.mcv ZORGAVAL.MDF; do
  mkdir -p "$work/fifo-$name" && mkfifo "$work/fifo-$name/$name"
  expect "FIFO $name" 2 "is a FIFO" "$sim" --dir "$work/fifo-$name"
done
sed "s|^28 = .*|28 = /dev/null|" "$work/sample.mcv" >"$work/devnull.mcv"
expect "/dev/null event log" 0 "event log:  /dev/null" "$sim" --dir "$work/devnull" --options "$work/devnull.mcv"
printf 'logon 0 Gus\n' | timeout 20 "$sim" --dir "$host" - >/dev/null 2>&1 || fail "scenario on a pipe"

# ---- a DIR that cannot be examined: status 1 and the program's own words.
nobody="setpriv --reuid=65534 --regid=65534 --clear-groups"
mkdir -p "$work/closed/inner" && chmod 700 "$work/closed" && chmod 755 "$work"
expect "DIR not searchable" 1 "zorgaval-sim: $work/closed/inner: cannot be used as the host's directory: Permission denied" \
  $nobody "$sim" --dir "$work/closed/inner"
long=$(printf 'd%.0s' {1..300})
expect "DIR component over 255 bytes" 1 "zorgaval-sim: $work/$long: cannot be used as the host's directory: File name too long" \
  "$sim" --dir "$work/$long"
ln -s loop1 "$work/loop2" && ln -s loop2 "$work/loop1"
expect "DIR through a symlink loop" 1 "zorgaval-sim: $work/loop1/x: cannot be used as the host's directory: Too many levels" \
  "$sim" --dir "$work/loop1/x"

# ---- endless input is refused at its limit.
expect "endless scenario" 2 "cannot read the scenario /dev/zero: is larger than 64 MiB" "$sim" --dir "$host" /dev/zero
expect "endless --check" 2 "" "$sim" --check /dev/zero
grep -qF "/dev/zero: cannot read: is larger than 16 MiB" "$work/out" || fail "endless --check: $(cat "$work/out")"
mkdir "$work/endless" && cp "$work/sample.mcv" "$work/endless/zorgaval.mcv" && ln -s /dev/zero "$work/endless/ZORGAVAL.MDF"
expect "endless description file, --check" 2 "" "$sim" --check --dir "$work/endless"
grep -qF "ZORGAVAL.MDF: cannot read: is larger than 16 MiB" "$work/out" || fail "endless description file: $(cat "$work/out")"

# ---- standard output closed early: the documented message and status 1,
# the closing lines still written. The trace outgrows the pipe's buffer.
{ echo "clock 2024-03-05 12:00:00"; for ((i = 0; i < 3000; i++)); do echo "logon 0 U$i"; echo "logoff 0"; done; } >"$work/long.scn"
timeout 20 "$sim" --dir "$host" "$work/long.scn" 2>"$work/err" | head -1 >/dev/null
got=${PIPESTATUS[0]}
if [ "$got" = 1 ] && grep -qF "cannot write the trace to standard output: Broken pipe" "$work/err" &&
  grep -qF "zorgaval-sim: directory $host" "$work/err"; then echo "ok closed pipe"
else fail "closed pipe: status $got: $(head -c 400 "$work/err")"; fi

# ---- a control byte in a path is quoted in the closing lines, as the
# trace quotes it; a report that cannot be written is not "wrote".
sed -e 's|^28 = .*|28 = "ev\\x1bil.log"|' -e 's|^29 = .*|29 = /dev/full|' "$work/sample.mcv" >"$work/odd.mcv"
printf 'logon 0 Gus\ncleanup\n' >"$work/odd.scn"
expect "control byte, /dev/full" 0 'zorgaval-sim: wrote "ev\x1bil.log" (event log)' \
  "$sim" --dir "$work/odd" --options "$work/odd.mcv" "$work/odd.scn"
grep -q $'\x1b' "$work/err" && fail "control byte: printed raw"
grep -qF 'could not write /dev/full (report): 1 write failed, see the audit entry "Zor Gaval Error"' "$work/err" ||
  fail "/dev/full report: $(cat "$work/err")"

# ---- a full disk: the run ends 1 and says how many records were lost.
mkdir "$work/small"
if mount -t tmpfs -o size=64k tmpfs "$work/small" 2>/dev/null; then
  # A range of four channels, one kept free: Demo is bumped at 20:00:30;
  # Pat and Lee, new users, are account lines the disk refuses too.
  sed -e 's/^15 = .*/15 = 1/' -e 's/^16 = .*/16 = 20/' -e 's/^18 = .*/18 = 03/' \
    -e 's/^19 = .*/19 = 10/' "$samples/zorgaval.mcv" >"$work/small/zorgaval.mcv"
  printf 'clock 2024-03-05 20:00:00\nchannels 4\naccount Demo keys $4\n' | "$sim" --dir "$work/small" - >/dev/null 2>&1
  dd if=/dev/zero of="$work/small/fill" bs=1k 2>/dev/null
  printf 'clock 2024-03-05 20:00:00\nchannels 4\nlogon 0 Demo\nlogon 1 Pat\nlogon 2 Lee\nwait 40\n' >"$work/full.scn"
  expect "full disk" 1 "1 delay record and 2 account lines were not stored" \
    "$sim" --dir "$work/small" "$work/full.scn"
else
  skip "full disk: cannot mount a tmpfs (needs root)"
fi

finish
