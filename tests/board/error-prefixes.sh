#!/bin/bash
# Bad starts of the board and its commands, each row the first line it must
# write on standard error: `FILE:LINE:` when a line is to blame, `FILE:` for
# a whole file or DIR, `zorgaval-board:` otherwise.
# usage: error-prefixes.sh BOARD
board=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../lib.sh"
cd "$work" || exit 1
: >empty.mcv
sed 's/^16 = .*/16 = fast/' "$here/../../examples/zorgaval.mcv" >bad.mcv
: >plain
mkdir up
printf '# a setting a line\nssh = 22\n' >bad.conf

# expected start of the first stderr line | the arguments
rows=(
  "$work/bad.mcv:27: |--dir d1 --options bad.mcv"
  "$work/empty.mcv: |--dir d2 --options empty.mcv"
  "$work/gone.mcv: |--dir d3 --options gone.mcv"
  "$work/plain: |--dir plain"
  "$work/bad.conf:2: --ssh: \"22\" is not ADDR:PORT |--config bad.conf --dir d7"
  "$work/nodir: |account list --dir nodir"
  "$work/plain: |ctl who --dir plain"
  "zorgaval-board: --channels: |--channels 0 --dir d4"
  "zorgaval-board: --listen: |--dir d5 --listen 999.1.1.1:2323"
  "zorgaval-board: cannot load the module |--dir d6 --module $work/none.so"
  "zorgaval-board: no board is running in |ctl who --dir up"
  "zorgaval-board: user-id \"(x\": |account add (x --dir up"
  "zorgaval-board: account: unknown command |account frob --dir up"
)
for row in "${rows[@]}"; do
  want=${row%%|*}
  read -r -a args <<<"${row#*|}"
  first=$(timeout 10 "$board" "${args[@]}" 2>&1 >/dev/null </dev/null | head -1)
  case "$first" in
    "$want"*) ;;
    *) fail "${args[*]}: the first error line is \"$first\", not \"$want...\"" ;;
  esac
  # Never both a file and the program's name at the start.
  case "$first" in
    "zorgaval-board: /"*) fail "${args[*]}: \"$first\" names the program before a file" ;;
  esac
done
finish
