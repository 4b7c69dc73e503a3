#!/usr/bin/env bash
# Runs one scenario through the real simulator and compares what it printed.
#   run-scenario.sh SIM FILE.scn
# FILE.expect holds the exact expected standard output. Lines of the
# scenario starting with "#!" steer the run:
#   #! option N = VALUE     the sample option file with entry N replaced
#                           (or added); VALUE is written as in the file
#   #! status N             the expected exit status (default 0)
#   #! stderr TEXT          standard error must contain TEXT
#   #! file NAME EXPECTED   file NAME of the host's directory must equal
#                           EXPECTED (a file beside the scenario)
#   #! absent NAME          file NAME of the host's directory must not exist
#   #! prelude OTHER        run scenario OTHER (beside this one) first, on
#                           the same directory; it must exit 0
sim=$1 scn=$2
here=$(cd "$(dirname "$scn")" && pwd)
name=$(basename "$scn" .scn)
samples=$(cd "$here/../../examples" && pwd)
. "$(dirname "$0")/lib.sh"
dir=$work/dir
mkdir -p "$dir"

fail() { echo "FAIL $name: $*" >&2; exit 1; }

cp "$samples/zorgaval.mcv" "$work/options.mcv"
while IFS= read -r line; do
  case $line in
    "#! option "*)
      entry=${line#\#! option }
      num=${entry%%=*}; num=${num// /}
      value=${entry#*=}; value=${value# }
      awk -v n="$num" -v v="$value" '
        BEGIN { done = 0 }
        $0 ~ "^[ \t]*" n "[ \t]*=" { print n " = " v; done = 1; next }
        { print }
        END { if (!done) print n " = " v }' "$work/options.mcv" >"$work/o.tmp"
      mv "$work/o.tmp" "$work/options.mcv" ;;
  esac
done <"$scn"
cp "$work/options.mcv" "$dir/zorgaval.mcv"

status=0
declare -a stderr_wants=() file_checks=() absent_checks=() preludes=()
while IFS= read -r line; do
  case $line in
    "#! status "*) status=${line#\#! status } ;;
    "#! stderr "*) stderr_wants+=("${line#\#! stderr }") ;;
    "#! file "*) file_checks+=("${line#\#! file }") ;;
    "#! absent "*) absent_checks+=("${line#\#! absent }") ;;
    "#! prelude "*) preludes+=("${line#\#! prelude }") ;;
  esac
done <"$scn"

for p in "${preludes[@]+"${preludes[@]}"}"; do
  "$sim" --dir "$dir" "$here/$p" >"$work/prelude.out" 2>"$work/prelude.err" ||
    fail "prelude $p exited $?: $(cat "$work/prelude.err")"
done

"$sim" --dir "$dir" "$scn" >"$work/out" 2>"$work/err"
got=$?
[ "$got" = "$status" ] || fail "exit status $got, wanted $status; stderr: $(cat "$work/err")"
if [ -f "$here/$name.expect" ]; then
  diff -u "$here/$name.expect" "$work/out" >&2 || fail "trace differs"
else
  fail "no $name.expect"
fi
for want in "${stderr_wants[@]+"${stderr_wants[@]}"}"; do
  grep -qF -- "$want" "$work/err" || fail "stderr lacks: $want; it was: $(cat "$work/err")"
done
for check in "${file_checks[@]+"${file_checks[@]}"}"; do
  f=${check%% *} e=${check#* }
  [ -f "$dir/$f" ] || fail "no file $f"
  diff -u "$here/$e" "$dir/$f" >&2 || fail "file $f differs from $e"
done
for f in "${absent_checks[@]+"${absent_checks[@]}"}"; do
  [ ! -e "$dir/$f" ] || fail "file $f exists"
done
echo "ok $name"
