#!/usr/bin/env bash
# Hostile option files and the limits, through the real program: malformed
# entries stop the run with FILE:LINE:, message texts whose conversions do
# not fit give literal output and a warning, and 29-character user-ids,
# 256 channels and bytes of 0x80 and above go through whole.
#   options-limits.sh SIM
sim=$1
samples=$(cd "$(dirname "$0")/../../examples" && pwd)
. "$(dirname "$0")/../lib.sh"

# The sample with a range of four channels, one kept free, the shortest
# scan and grace: Demo is warned at 20:00:20, bumped at 20:00:30 (with Eve
# watching) and refused at 20:01:00.
small() {
  sed -e 's/^15 = 2 .*/15 = 1/' -e 's/^16 = 30 .*/16 = 20/' -e 's/^18 = 1F .*/18 = 03/' \
      -e 's/^19 = 60 .*/19 = 10/' "$samples/zorgaval.mcv"
}
# The option file with entry N's line replaced by LINE (N's old line goes).
withEntry() { small | awk -v n="$1" '$0 !~ "^" n " = "' && printf '%s\n' "$2"; }
lastLine=$(($(small | wc -l)))  # the added entry's line number, one entry gone

cat >"$work/bump.scn" <<'EOF'
clock 2024-03-05 20:00:00
channels 4
account Demo keys $4
account Eve keys $3
start
logon 3 Eve
logon 0 Demo
logon 1 Pat
logon 2 Lee
at 20:01:00
logon 0 Demo
EOF

# ---- malformed option files: status 2, FILE:LINE: and what is wrong
# case NAME REASON PREPARE (PREPARE writes the option file to $1)
badFile() {
  local name=$1 reason=$2
  shift 2
  local dir=$work/$name
  mkdir -p "$dir"
  "$@" >"$dir/zorgaval.mcv"
  "$sim" --dir "$dir" "$work/bump.scn" >"$dir/out" 2>"$dir/err"
  local got=$?
  [ "$got" = 2 ] || { fail "$name: exit status $got, wanted 2: $(head -c 500 "$dir/err")"; return; }
  grep -qF -- "$reason" "$dir/err" || { fail "$name: stderr lacks \"$reason\": $(head -c 500 "$dir/err")"; return; }
  # Start-up runs to its end (its lines show); no scenario event may follow.
  grep -q ' logon ' "$dir/out" && { fail "$name: events ran: $(head -c 300 "$dir/out")"; return; }
  echo "ok $name"
}
unclosed() { withEntry 35 '35 = "The board is busy %d'; }
badEscape() { withEntry 35 '35 = "busy\q %d"'; }
duplicate() { small; echo '15 = 3'; }
zero() { small; echo '0 = x'; }
tooBig() { small; echo '10000 = x'; }
nul() { small; printf '99 = "a\0b"\n'; }
textAfter() { small; echo '99 = "a"b'; }
longUnclosed() { small; printf '# %s\n98 = "x\n' "$(head -c 102400 /dev/zero | tr '\0' a)"; }
badFile unclosed-quote "zorgaval.mcv:$lastLine: option 35: the quoted text is not closed" unclosed
badFile bad-escape "zorgaval.mcv:$lastLine: option 35: \\q is not a known escape" badEscape
badFile duplicate "zorgaval.mcv:$((lastLine + 1)): option 15 is given again (first on line 26)" duplicate
badFile number-0 "zorgaval.mcv:$((lastLine + 1)): option number 0 is not between 1 and 9999" zero
badFile number-10000 "zorgaval.mcv:$((lastLine + 1)): option number 10000 is not between 1 and 9999" tooBig
badFile nul-byte "zorgaval.mcv:$((lastLine + 1)): option 99: NUL byte at column 8" nul
badFile text-after "zorgaval.mcv:$((lastLine + 1)): option 99: text after the value" textAfter
badFile after-long-line "zorgaval.mcv:$((lastLine + 2)): option 98: the quoted text is not closed" longUnclosed

# ---- texts that run: status 0 and the trace checked
# run NAME OPTIONFILE-PREPARE SCENARIO -> $dir/out, or a failure
run() {
  local name=$1 prepare=$2 scn=$3
  dir=$work/$name
  mkdir -p "$dir"
  $prepare >"$dir/zorgaval.mcv"
  "$sim" --dir "$dir" "$scn" >"$dir/out" 2>"$dir/err"
  local got=$?
  [ "$got" = 0 ] || { fail "$name: exit status $got: $(head -c 500 "$dir/err")"; return 1; }
}
has() { grep -qF -- "$2" "$dir/out" || { fail "$1: trace lacks: $2"; cat "$dir/out" >&2; return 1; }; }

# A 100 KB message is read whole and delivered whole.
long=$(head -c 102400 /dev/zero | tr '\0' a)
longMessage() { withEntry 39 "39 = \"$long %s\""; }
run long-line longMessage "$work/bump.scn" && has long-line "deliver 3 \"$long Demo\"" && echo "ok long-line"

# case NAME ENTRY WARNING DELIVERED: the entry replaces its sample line; the
# warning names the message and the conversion; DELIVERED is what reached a
# channel, the conversion copied out literally.
format() {
  local name=$1 entry=$2 warning=$3 delivered=$4 had=$failures
  prepare() { withEntry "${entry%% *}" "$entry"; }
  run "$name" prepare "$work/bump.scn" || return
  has "$name" "warning \"zorgaval.mcv: message ${entry%% *}: $warning\"" &&
    has "$name" "$delivered" && has "$name" 'hangup 0 "Demo"' && has "$name" 'logon 0 "Demo" rejected'
  [ "$failures" = "$had" ] && echo "ok $name"
}
format pct-n      '35 = "A%nB"'   '%n is not an allowed conversion' 'deliver 0 "\aA%nB"'
format s-for-int  '35 = "A%sB"'   '%s given an integer'             'deliver 0 "\aA%sB"'
format width-999  '35 = "A%999dB"' '%999d: width over 255'          'deliver 0 "\aA%999dB"'
format wide-text  '39 = "A%lsB"'  '%ls: wide texts are not allowed' 'deliver 3 "A%lsB"'
format star       '35 = "A%*dB"'  '%*d: * is not allowed'           'deliver 0 "\aA%*dB"'
format lone-pct   '38 = "A%s %s%"' '% at the end of the text is incomplete' 'A03/05/24 20:01:00%"'
format no-arg     '39 = "A%s%sB"' '%s has no argument'              'deliver 3 "ADemo%sB"'
format int-for-s  '37 = "A%dB"'   '%d given a text'                 'deliver 0 "A%dB'

# ---- limits
# A user-id of 29 characters: bumped, stored, refused, and in the event log
# whole. One of 30 is refused by the scenario reader.
id29="Kim Demo 3456789012345678 2029"
id29=${id29:0:29}
id30="${id29}X"
cat >"$work/id29.scn" <<EOF
clock 2024-03-05 20:00:00
channels 4
account "$id29" keys \$4
start
logon 0 "$id29"
logon 1 Pat
logon 2 Lee
at 20:01:00
delays
logon 0 "$id29"
EOF
run id-29 small "$work/id29.scn" && has id-29 "hangup 0 \"$id29\"" &&
  has id-29 "delay \"$id29\" 2024-03-05 20:00:30" && has id-29 "logon 0 \"$id29\" rejected" &&
  has id-29 "audit \"Gaval delayed Log-on\" \"User-ID: $id29\"" && {
    for text in "$id29 warned by Gaval" "$id29 disconnected by Gaval" "$id29 log-on attempt delayed"; do
      grep -qF "$text" "$dir/zorgaval.log" || fail "id-29: event log lacks: $text"
    done
  } && echo "ok id-29"

for verb in "account \"$id30\"" "logon 0 \"$id30\"" "connect 0 \"$id30\"" "occupy 0 1 \"$id30\""; do
  printf 'clock 2024-03-05 20:00:00\nchannels 4\n%s\n' "$verb" >"$work/id30.scn"
  "$sim" --dir "$work/id30" "$work/id30.scn" >"$work/id30.out" 2>"$work/id30.err"
  got=$?
  if [ "$got" != 2 ] || ! grep -q "id30.scn:3: " "$work/id30.err" || [ -s "$work/id30.out" ]; then
    fail "id-30 (${verb%% *}): status $got: $(cat "$work/id30.err")"
  else
    echo "ok id-30 ${verb%% *}"
  fi
done

# 256 channels, the whole range watched and kept full: the candidate on the
# last channel (number FF) is bumped, the watcher on the first is told.
wide() {
  sed -e 's/^15 = 2 .*/15 = 0/' -e 's/^16 = 30 .*/16 = 20/' -e 's/^18 = 1F .*/18 = FF/' \
      -e 's/^19 = 60 .*/19 = 10/' "$samples/zorgaval.mcv"
}
{
  printf 'clock 2024-03-05 20:00:00\nchannels 256\naccount Watch keys $3\naccount Last keys $4\nstart\n'
  echo "logon 0 Watch"
  for ((i = 1; i < 255; i++)); do echo "logon $i U$i"; done
  echo "logon 255 Last"
  echo "at 20:01:00"
  echo "logon 255 Last"
} >"$work/wide.scn"
run channels-256 wide "$work/wide.scn" && has channels-256 'hangup 255 "Last"' &&
  has channels-256 'deliver 0 "\r\nZor Gaval bumped Last to free a channel.\r\n"' &&
  has channels-256 'logon 255 "Last" rejected' && echo "ok channels-256"

# Bytes of 0x80 and above, in a quoted text and in a bare word, come out of
# the trace as \xhh.
highBytes() { small | awk '$0 !~ /^(39|2) = /'; printf '39 = "\\xe9t\\xe9 \xff%%s\x80"\n2 = SYS\xc3\xa9\n'; }
run high-bytes highBytes "$work/bump.scn" &&
  has high-bytes 'deliver 3 "\xe9t\xe9 \xffDemo\x80"' && echo "ok high-bytes"

finish
