#!/usr/bin/env bash
# Damaged delay records through the real program: a record whose stamp is
# no date or time, or whose user-id has no terminator, is stored in a sound
# delay file; then `delays` lists it and the user logs on. Nothing may crash
# or read past the record (run it under the sanitizer build too), a stamp
# that is not a calendar date counts as a delay that is over, and `delays`
# shows the stamp as stored.
#   damaged-records.sh SIM DBTOOL [times]
# With "times", the stamps whose date is sound but whose time of day is not
# are tried instead.
sim=$1 dbtool=$2 which=${3:-dates}
here=$(cd "$(dirname "$0")" && pwd)
. "$(dirname "$0")/../lib.sh"

# 2024-03-05 20:00:00 is inside the sample's window (18:00 to 02:00), and
# channel 0 inside its range; the delay is 1800 seconds.
cat >"$work/logon.scn" <<'EOF'
clock 2024-03-05 20:00:00
channels 4
account Kim keys $4
start
delays
logon 0 Kim
delays
EOF

# A 34-byte record: the user-id field as hex (padded with zeros to 30
# bytes), then the packed date and time, each little-endian.
record() {
  local id=$1 date=$2 time=$3
  while [ ${#id} -lt 60 ]; do id+=00; done
  printf '%s%02x%02x%02x%02x' "$id" $((date & 255)) $((date >> 8)) $((time & 255)) $((time >> 8))
}
pdate() { echo $(( (($1 - 1980) << 9) | ($2 << 5) | $3 )); }
ptime() { echo $(( ($1 << 11) | ($2 << 5) | ($3 / 2) )); }
hexOf() { printf '%s' "$1" | od -An -tx1 | tr -d ' \n'; }

kim=$(hexOf Kim)
x27=$(hexOf xxxxxxxxxxxxxxxxxxxxxxxxxxx)           # 27 bytes: no room for a terminator
long30=$(hexOf abcdefghijklmnopqrstuvwxyz0123)      # 30 bytes, no terminator

# case NAME KEY RECORD LOGON DELAYS-BEFORE DELAYS-AFTER
#   LOGON: accepted or rejected; DELAYS-*: the `delay` lines, joined by "|"
runCase() {
  local name=$1 key=$2 rec=$3 logon=$4 before=$5 after=$6
  local dir=$work/$name had=$failures
  mkdir -p "$dir"
  cp "$here/../../examples/zorgaval.mcv" "$dir/"
  "$dbtool" make "$dir/zorgaval.dat" 34 && "$dbtool" put "$dir/zorgaval.dat" "$key" "$rec" ||
    { fail "$name: could not prepare"; return; }
  "$sim" --dir "$dir" "$work/logon.scn" >"$dir/out" 2>"$dir/err"
  local got=$?
  [ "$got" = 0 ] || fail "$name: exit status $got; stderr: $(cat "$dir/err")"
  grep -qF "logon 0 \"Kim\" $logon" "$dir/out" || fail "$name: log-on not $logon"
  local lines
  lines=$(awk '/ delays?$/ {next} / delay / {sub(/^[^ ]+ [^ ]+ delay /, ""); printf "%s|", $0} / logon 0 / {printf "@"}' "$dir/out")
  [ "$lines" = "$before|@$after${after:+|}" ] ||
    fail "$name: delay lines \"$lines\", wanted \"$before|@$after${after:+|}\""
  if grep -q ' warning ' "$dir/out"; then fail "$name: warnings: $(grep ' warning ' "$dir/out")"; fi
  [ "$failures" = "$had" ] || { echo "--- trace of $name:" >&2; cat "$dir/out" >&2; return; }
  echo "ok $name"
}

today=$(pdate 2024 3 5)
t1950=$(ptime 19 50 0)
month13=$(( (44 << 9) | (13 << 5) | 5 ))
month0=$(( (44 << 9) | (0 << 5) | 5 ))
day0=$(( (44 << 9) | (3 << 5) | 0 ))
feb30=$(( (44 << 9) | (2 << 5) | 30 ))
all1=65535

if [ "$which" = times ]; then
  # A time of day no clock shows, on today's date: as damaged as a bad date.
  runCase hour-25     kim "$(record "$kim" "$today" $((25 << 11)))" accepted '"Kim" 2024-03-05 25:00:00' ''
  runCase minute-60   kim "$(record "$kim" "$today" $(( (19 << 11) | (60 << 5) )))" accepted \
    '"Kim" 2024-03-05 19:60:00' ''
  runCase seconds-60  kim "$(record "$kim" "$today" $(( (19 << 11) | (59 << 5) | 30 )))" accepted \
    '"Kim" 2024-03-05 19:59:60' ''
  runCase time-ones   kim "$(record "$kim" "$today" 65535)" accepted '"Kim" 2024-03-05 31:63:62' ''
  finish
  exit 0
fi

# The sound record first, so the damaged ones are judged against it.
runCase sound         kim "$(record "$kim" "$today" "$t1950")" rejected \
  '"Kim" 2024-03-05 19:50:00' '"Kim" 2024-03-05 19:50:00'
runCase month-13      kim "$(record "$kim" "$month13" "$t1950")" accepted '"Kim" 2024-13-05 19:50:00' ''
runCase month-0       kim "$(record "$kim" "$month0" "$t1950")" accepted '"Kim" 2024-00-05 19:50:00' ''
runCase day-0         kim "$(record "$kim" "$day0" "$t1950")" accepted '"Kim" 2024-03-00 19:50:00' ''
runCase feb-30        kim "$(record "$kim" "$feb30" "$t1950")" accepted '"Kim" 2024-02-30 19:50:00' ''
runCase all-ones      kim "$(record "$kim" "$all1" "$all1")" accepted '"Kim" 2107-15-31 31:63:62' ''
# No terminator: the id runs to the field's end and no further.
runCase no-terminator kim "$(record "$kim$x27" "$today" "$t1950")" rejected \
  "\"Kimxxxxxxxxxxxxxxxxxxxxxxxxxxx\" 2024-03-05 19:50:00" \
  "\"Kimxxxxxxxxxxxxxxxxxxxxxxxxxxx\" 2024-03-05 19:50:00"
runCase thirty-bytes  abcdefghijklmnopqrstuvwxyz0123 "$(record "$long30" "$today" "$t1950")" accepted \
  '"abcdefghijklmnopqrstuvwxyz0123" 2024-03-05 19:50:00' \
  '"abcdefghijklmnopqrstuvwxyz0123" 2024-03-05 19:50:00'

finish
