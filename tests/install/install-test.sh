# The install as a sysop gets it: `cmake --install` into a DESTDIR, then the
# installed programs run from there with no --module (they find the module
# under ../lib/zorgaval/), the man pages render without warnings, and the
# bash completion loads and completes.
# usage: install-test.sh BUILD_DIR
. "$(dirname "$0")/../lib.sh"
build=$1
dest=$work/dest
prefix=/usr/local
root=$dest$prefix

if ! DESTDIR=$dest cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
  cat "$work/install.log" >&2
  fail "cmake --install into $dest"
  finish
fi

for f in bin/zorgaval-sim bin/zorgaval-board lib/zorgaval/zorgaval.so \
  share/zorgaval/zorgaval.mcv share/zorgaval/ZORGAVAL.MDF share/zorgaval/busy-evening.scn \
  share/zorgaval/zorgaval.logrotate \
  share/zorgaval/web/index.html share/zorgaval/web/terminal.js share/zorgaval/web/cp437.js \
  share/zorgaval/web/xterm/xterm.mjs share/zorgaval/web/xterm/addon-fit.mjs \
  share/zorgaval/fail2ban/filter.d/zorgaval-board.conf \
  share/man/man1/zorgaval-sim.1 share/man/man8/zorgaval-board.8 \
  share/bash-completion/completions/zorgaval-sim \
  share/bash-completion/completions/zorgaval-board \
  lib/systemd/system/zorgaval-board.service; do
  [ -f "$root/$f" ] || fail "not installed: $prefix/$f"
done
[ -e "$root/bin/zorgaval.so" ] && fail "a module beside the installed programs hides the lookup"

# The unit names the program where this prefix put it.
unit=$root/lib/systemd/system/zorgaval-board.service
grep -qx "ExecStart=$prefix/bin/zorgaval-board .*" "$unit" ||
  fail "the installed unit's ExecStart is not $prefix/bin/zorgaval-board: $(grep ExecStart= "$unit")"

# The demo, from the installed tree only: the module found without --module.
if ! (cd "$work" && "$root/bin/zorgaval-sim" >"$work/demo.out" 2>"$work/demo.err"); then
  fail "installed zorgaval-sim (demo): $(cat "$work/demo.err")"
fi
grep -q 'bump' "$work/demo.out" || fail "installed zorgaval-sim: the demo printed no bump"
"$root/bin/zorgaval-board" --help >"$work/help.out" 2>&1 || fail "installed zorgaval-board --help"
grep -q '^usage: zorgaval-board' "$work/help.out" || fail "zorgaval-board --help printed no usage"

# The installed board serves the page from share/zorgaval/web, found from
# its own place with no --web-root.
mkdir -p "$work/board"
"$root/bin/zorgaval-board" --dir "$work/board" --listen 127.0.0.1:0 --web 127.0.0.1:0 \
  >"$work/board.trace" 2>"$work/board.err" &
board=$!
for _ in $(seq 100); do
  web=$(sed -n 's/^zorgaval-board: web listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/board.err")
  [ -n "$web" ] && break
  sleep 0.1
done
page=$(python3 -c "import urllib.request, sys; print(urllib.request.urlopen(sys.argv[1], timeout=10).read().decode())" \
  "http://127.0.0.1:${web:-1}/" 2>&1)
grep -q '/terminal.js' <<<"$page" || fail "the installed board did not serve the page: $page $(cat "$work/board.err")"
kill -TERM "$board"
wait "$board" || fail "the installed board with --web did not exit 0 on SIGTERM"

# The man pages: each renders with no warning, and names its program.
for page in share/man/man1/zorgaval-sim.1 share/man/man8/zorgaval-board.8; do
  warnings=$(groff -ww -man -z "$root/$page" 2>&1)
  [ -z "$warnings" ] || fail "$page: groff warns: $warnings"
  if command -v man >/dev/null; then
    text=$(MANWIDTH=80 man --warnings -l "$root/$page" 2>"$work/man.err")
    [ -s "$work/man.err" ] && fail "$page: man warns: $(cat "$work/man.err")"
    for section in SYNOPSIS OPTIONS 'EXIT STATUS' FILES 'SEE ALSO'; do
      grep -q "^$section" <<<"$text" || fail "$page: no $section section"
    done
  else
    skip "man is not installed"
  fi
done

# Every flag the board's usage names is in its man page and completes.
completion=$root/share/bash-completion/completions/zorgaval-board
for flag in $(grep -o -- '--[a-z][a-z-]*' "$work/help.out" | sort -u); do
  grep -q -- "^\.\(OP\|BI\|B\) $(sed 's/-/\\\\-/g' <<<"$flag")\b" "$root/share/man/man8/zorgaval-board.8" ||
    fail "zorgaval-board.8 does not name $flag"
  grep -q -- "$flag\b" "$completion" || fail "the board's completion does not offer $flag"
done

# The completion sources cleanly and completes the board's ctl commands and
# the simulator's flags.
completion=$root/share/bash-completion/completions/zorgaval-board
got=$(bash --norc -c '
  source "$1" || exit 1
  COMP_WORDS=(zorgaval-board ctl sh); COMP_CWORD=2; _zorgaval_board; echo "${COMPREPLY[*]}"
  COMP_WORDS=(zorgaval-board --char); COMP_CWORD=1; _zorgaval_board; echo "${COMPREPLY[*]}"
  COMP_WORDS=(zorgaval-sim --re); COMP_CWORD=1; _zorgaval_sim; echo "${COMPREPLY[*]}"
  complete -p zorgaval-sim zorgaval-board >/dev/null' _ "$completion" 2>&1)
[ "$got" = $'shutdown\n--charset\n--replay' ] || fail "bash completion: got [$got]"

finish
