# The Debian package as dpkg sees it, without installing it: built by
# CPack into a scratch directory, then its control fields, files and
# maintainer scripts inspected. Skipped where dpkg-deb or dpkg-shlibdeps is
# missing.
# usage: deb-test.sh BUILD_DIR
. "$(dirname "$0")/../lib.sh"
build=$1

for tool in dpkg-deb dpkg-shlibdeps cpack; do
  command -v "$tool" >/dev/null || { skip "$tool is not installed"; finish; }
done
if ! (cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out") \
  >"$work/cpack.log" 2>&1; then
  tail -n 20 "$work/cpack.log" >&2
  fail "cpack -G DEB"
  finish
fi
deb=$(ls "$work"/out/zorgaval_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || { fail "cpack made no zorgaval_*.deb: $(ls "$work/out")"; finish; }

info=$(dpkg-deb -I "$deb")
depends=$(dpkg-deb -f "$deb" Depends)
for dep in adduser libc6 libsqlite3-0 libsodium23 libtelnet2 libsystemd0; do
  grep -qE "(^|, )$dep( |,|$)" <<<"$depends" || fail "Depends lacks $dep: $depends"
done
for script in postinst prerm postrm; do
  grep -qE "^ +[0-9]+ bytes, +[0-9]+ lines +\* +$script " <<<"$info" ||
    fail "no executable $script in the control part"
done

files=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
for f in ./usr/bin/zorgaval-sim ./usr/bin/zorgaval-board ./usr/lib/zorgaval/zorgaval.so \
  ./usr/share/zorgaval/zorgaval.mcv ./usr/share/zorgaval/ZORGAVAL.MDF \
  ./usr/share/zorgaval/busy-evening.scn ./usr/share/man/man1/zorgaval-sim.1 \
  ./usr/share/man/man8/zorgaval-board.8 ./usr/lib/systemd/system/zorgaval-board.service \
  ./usr/lib/systemd/system/zorgaval-board.socket ./usr/lib/systemd/system/zorgaval-board-ssh.socket \
  ./usr/lib/systemd/system/zorgaval-board-web.socket ./etc/zorgaval/board.conf \
  ./usr/share/bash-completion/completions/zorgaval-board; do
  grep -qx -- "$f" <<<"$files" || fail "the package lacks $f"
done
grep -q '^\./usr/local/' <<<"$files" && fail "the package has files under /usr/local"

# The packed unit and scripts: the program's packaged path; scripts that parse.
dpkg-deb -x "$deb" "$work/root"
dpkg-deb -e "$deb" "$work/control"
grep -qx 'ExecStart=/usr/bin/zorgaval-board .*' \
  "$work/root/usr/lib/systemd/system/zorgaval-board.service" ||
  fail "the packed unit does not run /usr/bin/zorgaval-board"
for script in postinst prerm postrm; do
  sh -n "$work/control/$script" || fail "$script does not parse"
done
grep -q 'systemctl enable zorgaval-board' "$work/control/postinst" ||
  fail "postinst does not enable the unit"
grep -q 'systemctl enable .*zorgaval-board.socket' "$work/control/postinst" ||
  fail "postinst does not enable the telnet socket"
grep -q 'systemctl start\|--now' "$work/control/postinst" && fail "postinst starts the unit"

# The sysop's settings: a conffile, so an upgrade keeps the sysop's edits;
# each setting it shows, once uncommented, read by the packed board (which
# then stops at the example TLS pair, after the file was read whole).
grep -qx /etc/zorgaval/board.conf "$work/control/conffiles" 2>/dev/null ||
  fail "/etc/zorgaval/board.conf is not a conffile: $(cat "$work/control/conffiles" 2>&1)"
sed -e 's/^#\([a-z-]* = \)/\1/' -e 's/^#\(ssh-legacy\)$/\1/' "$work/root/etc/zorgaval/board.conf" \
  >"$work/all.conf"
mkdir "$work/board"
"$work/root/usr/bin/zorgaval-board" --config "$work/all.conf" --dir "$work/board" \
  --listen 127.0.0.1:0 --ssh 127.0.0.1:0 --web 127.0.0.1:0 >/dev/null 2>"$work/conf.err"
status=$?
grep -q '^zorgaval-board: --web-tls: the certificate "/etc/zorgaval/tls/fullchain.pem"' "$work/conf.err" &&
  [ "$status" = 1 ] || fail "the conffile's settings: exit $status, $(cat "$work/conf.err")"

# The option file postinst makes: the sample with its logs in /var/log/zorgaval,
# still one the module accepts.
sed -n "/^    sed /,/zorgaval.mcv >/p" "$work/control/postinst" |
  sed -e 's|/usr/share/zorgaval/zorgaval.mcv >"$options.new"|"$1"|' >"$work/make-options.sh"
sh "$work/make-options.sh" "$work/root/usr/share/zorgaval/zorgaval.mcv" >"$work/service.mcv"
grep -q '^28 = /var/log/zorgaval/zorgaval.log ' "$work/service.mcv" ||
  fail "postinst's option file does not log to /var/log/zorgaval"
"$work/root/usr/bin/zorgaval-sim" --check "$work/service.mcv" >"$work/check.out" 2>&1 ||
  fail "postinst's option file fails --check: $(cat "$work/check.out")"
finish
