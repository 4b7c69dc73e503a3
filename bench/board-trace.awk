# Turns a simulator trace into the trace a board would have written for
# the same evening: each log-on on a free channel is preceded by its call.
# The delay records listed at the end of a run are the simulator's own
# closing words; a board lists its stored records only at its start.
#   awk -f board-trace.awk SIM-TRACE > BOARD-TRACE
$3 == "board" { opening = 1; print; next }
$3 == "delay" { if (opening) print; next }
{ opening = 0 }
$3 == "logon" && !(($4) in held) {
  print $1, $2, "call", $4, "\"127.0.0.1:" (10000 + NR % 50000) "\""
  held[$4] = 1
}
$3 == "hangup" { delete held[$4] }
{ print }
