#!/usr/bin/env python3
# The live board's behaviours that need the asyncio callers and a run of
# their own: sign-on time-outs, signals, the control socket's limit and
# quoting, the callers' character sets, sign-ups and their limits, a
# sign-up killed half-way, starts beside account commands, and the web
# listener's metrics, TLS and dual stack. load.py keeps the load.
#   functional.py BOARD SIM DBCHECK [--quick] [--only CASE,...]
import asyncio, os, random, shutil, signal, socket, subprocess, sys, time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import async_board as kit  # noqa: E402
import wsclient  # noqa: E402
from async_board import (HERE, PASSWORD, Board, Caller, WsCaller, check, http_get,  # noqa: E402
                         sign_on, tls_pair)


async def try_logon(port, source, uid, password):
    """One try from SOURCE; answers what followed the password and how long it took."""
    c = await Caller().connect(port, source=source)
    await c.expect(b"User-ID: ")
    c.send(uid + b"\r\n")
    await c.expect(b"Password: ")
    start = time.monotonic()
    c.send(password + b"\r\n")
    answer = await c.expect(b"User-ID: ", 10)
    took = time.monotonic() - start
    c.close()
    return answer, took


async def sign_up(c, uid, password=PASSWORD):
    """`new`, then UID at the sign-up's prompt: answers what the board said."""
    await c.expect(b"User-ID: ")
    c.send(b"new\r\n")
    await c.expect(b"Choose a user-id: ")
    c.send(uid + b"\r\n")
    end = time.monotonic() + 5
    while b"is taken" not in c.text and b"Choose a password: " not in c.text:
        check(not c.eof and time.monotonic() < end, f"no answer to the sign-up: {bytes(c.text)!r}")
        try:
            await c.read_some(max(0.01, end - time.monotonic()))
        except asyncio.TimeoutError:
            pass
    said = bytes(c.text)
    if b"Choose a password: " in said:
        await c.expect(b"Choose a password: ")
        c.send(password + b"\r\n" + password + b"\r\n")
        await c.expect(b"Welcome, " + uid, 10)
    else:
        await c.expect(b"is taken")
    return said


async def signon(dir):
    """The prompt time-out bounds the whole sign-on, blank lines included."""
    b = Board(dir, "--channels", "4", "--prompt-timeout", "2")
    try:
        start = time.monotonic()
        blank = await Caller().connect(b.port)
        while b"Time is up" not in blank.text and time.monotonic() - start < 6:
            blank.send(b"\r\n")
            try:
                await blank.read_some(0.4)
            except asyncio.TimeoutError:
                pass
        took = time.monotonic() - start
        check(b"Time is up" in blank.text, f"a caller typing blank lines was on for {took:.1f} s")
        check(1.8 <= took <= 3.5, f"'Time is up' after {took:.1f} s on a 2 s sign-on")
        check(await blank.closed(2), "a timed-out caller was not disconnected")
        await b.traced(r'timeout \d+ "\(Login\)"')
        await sign_on(b.port, "user000")  # a prompt log-on is untouched
        print(f"  blank lines every 0.4 s: 'Time is up' {took:.1f} s after the call (--prompt-timeout 2)")
    finally:
        b.stop()


async def signals(dir):
    """SIGQUIT goes down as SIGTERM does; SIGHUP reloads (the board and its
    caller stay); SIGUSR1 and SIGUSR2 are ignored."""
    d = os.path.join(dir, "SIGQUIT")
    shutil.copytree(os.path.join(dir, "prepared"), d)
    b = Board(d, "--channels", "4")
    try:
        c = await sign_on(b.port, "user000")
        for other in (signal.SIGUSR1, signal.SIGUSR2, signal.SIGHUP):
            b.proc.send_signal(other)
        await b.traced(r" reload unchanged$", 20)
        await b.answers(5)
        check(b"going down" not in c.text and not await c.closed(0.5), "SIGHUP: the caller was let go")
        b.proc.send_signal(signal.SIGQUIT)
        check(await c.closed(5) and b"going down" in c.text, "SIGQUIT: the caller was not told")
        status = b.stop(5)
        check(status == 0, f"SIGQUIT: exit {status}")
        check(any(l.endswith(" shutdown") for l in b.lines()), "SIGQUIT: no shutdown line (slot 9)")
        check(not os.path.exists(os.path.join(d, "zorgaval-board.ctl")), "SIGQUIT: the control socket stayed")
    finally:
        b.stop()
    print("  SIGUSR1, SIGUSR2 ignored; SIGHUP reloads, the caller stays; SIGQUIT: callers told, slot 9, socket removed, exit 0")


async def control(dir):
    """The 17th control session reads the busy answer; pardon quotes the id."""
    shutil.copy(os.path.join(HERE, "..", "kill", "kill.mcv"), os.path.join(dir, "zorgaval.mcv"))
    uid = 'Kim "K" Demo'
    scn = os.path.join(dir, "bump.scn")
    open(scn, "w").write(
        'clock 2024-03-05 20:00:00\nchannels 4\naccount "Kim \\"K\\" Demo" keys $4\n'
        'account "Pat Filler"\naccount "Lee Filler"\nstart\n'
        'logon 0 "Kim \\"K\\" Demo"\nlogon 1 "Pat Filler"\nlogon 2 "Lee Filler"\nat 20:01:00\ndelays\n')
    out = subprocess.run([kit.EXE.sim, "--dir", dir, scn], capture_output=True, text=True, timeout=30).stdout
    check('delay "Kim \\"K\\" Demo"' in out, f"the simulator made no delay record: {out[-300:]}")
    b = Board(dir, "--channels", "4", "--clock", "2024-03-05 20:02:00")
    try:
        held = []
        for _ in range(16):
            s = socket.socket(socket.AF_UNIX)
            s.connect(os.path.join(dir, "zorgaval-board.ctl"))
            held.append(s)
        await asyncio.sleep(0.2)
        r = b.ctl("who")
        busy = r.stderr.strip()
        check(r.returncode == 1 and "busy" in busy and "try again" in busy,
              f"ctl with 16 sessions held: exit {r.returncode}: {busy}")
        for s in held:
            s.close()
        await asyncio.sleep(0.2)
        r = b.ctl("pardon", uid)
        check(r.returncode == 0 and r.stdout == 'pardoned "Kim \\"K\\" Demo"\n', f"ctl pardon: {r.stdout!r}{r.stderr}")
        print(f"  16 sessions held: the 17th read {busy!r}; {r.stdout.strip()}")
    finally:
        b.stop()


async def charset(dir):
    """C1 controls never reach another caller; CP437 glyphs pass under --charset cp437."""
    typed = b"\x9b2J \xc2\x9d0;owned\x07 caf\xc3\xa9 \xe9 end\r\n"
    for flags, want, banned in (((), b"?2J 0;owned caf\xc3\xa9 ? end", (b"\x9b", b"\xc2\x9d", b"\xe9 ")),
                                (("--charset", "cp437"), b"\x9b2J \xc2\x9d0;owned caf\xc3\xa9 \xe9 end", ())):
        b = Board(dir, "--channels", "4", *flags)
        try:
            x, y = await sign_on(b.port, "user000"), await sign_on(b.port, "user001")
            x.send(typed)
            await y.expect(b"user000: ", 3)
            line = await y.expect(b"\r\n", 3)
            check(line == want, f"{' '.join(flags) or 'utf-8'}: {line!r} reached another caller, not {want!r}")
            check(not any(bad in line for bad in banned), f"a control reached another caller: {line!r}")
        finally:
            b.stop()
    print("  utf-8: C1 controls dropped, Latin-1 byte shown as ?, UTF-8 kept; cp437: glyphs pass")


async def new_users(dir):
    """With --new-users the User-ID prompt tells nothing: an unknown id is asked
    its password and refused as a wrong one, counted; sign-ups are limited."""
    b = Board(dir, "--channels", "16", "--block-loopback", "--new-users", "DEMO",
              "--signup-limit", "3")
    try:
        c = await Caller().connect(b.port, source="127.0.0.2")
        await c.expect(b"type new at the User-ID prompt")
        c.close()
        known, t_known = await try_logon(b.port, "127.0.0.2", b"user000", b"wrong")
        unknown, t_unknown = await try_logon(b.port, "127.0.0.2", b"nosuchuser", b"wrong")
        check(known == unknown, f"known and unknown ids answered differently: {known!r} / {unknown!r}")
        check(t_unknown > t_known / 3, f"unknown id answered in {t_unknown:.3f} s, known in {t_known:.3f} s")
        for i in range(3):
            await try_logon(b.port, "127.0.0.2", b"probe%d" % i, b"wrong")
        await b.traced(r'block "127\.0\.0\.2"')
        probe = await Caller().connect(b.port, source="127.0.0.2")
        check(await probe.closed(3) and b"User-ID: " not in probe.text, "a probing address was let in")

        c = await Caller().connect(b.port, source="127.0.0.3")
        said = await sign_up(c, b"user000")
        check(b"is taken" in said, f"a taken id at sign-up: {said!r}")
        c.send(b"new\r\n")
        await c.expect(b"Choose a user-id: ")
        c.send(b"NEW\r\n")
        await c.expect(b'not "new"')
        c.send(b"carol\r\n")
        await c.expect(b"Choose a password: ")
        c.send(PASSWORD + b"\r\n" + PASSWORD + b"\r\n")
        await c.expect(b"Welcome, carol", 10)
        c.close()
        await sign_up(await Caller().connect(b.port, source="127.0.0.3"), b"dave")
        fourth = await Caller().connect(b.port, source="127.0.0.3")
        await fourth.expect(b"User-ID: ")
        fourth.send(b"new\r\n")
        await fourth.expect(b"No more sign-ups from your address", 3)
        check(await fourth.closed(3), "a fourth sign-up's call was not let go")
        await sign_up(await Caller().connect(b.port, source="127.0.0.4"), b"erin")
        r = subprocess.run([kit.EXE.board, "account", "add", "New", "--dir", dir], input=b"pw\n",
                           capture_output=True, timeout=30)
        check(r.returncode == 2 and b"sign-up" in r.stderr, f"account add New: {r.returncode} {r.stderr!r}")
        print(f"  unknown id answered as a wrong password ({t_unknown * 1000:.0f} vs {t_known * 1000:.0f} ms),"
              " 5 probes blocked; 3 sign-ups an address, the 4th refused")
    finally:
        b.stop()


async def half_signup(dir):
    """A sign-up killed between its two writes leaves a password with no
    account: the board's start removes it, and the id can be signed up again.
    An account without a password (made otherwise) stays."""
    import sqlite3
    db = sqlite3.connect(os.path.join(dir, "passwords.dat"))
    hash = db.execute("SELECT hash FROM passwords WHERE key = 'user001'").fetchone()[0]
    db.execute("INSERT INTO passwords(key, userid, hash) VALUES('carol', 'Carol', ?)", (hash,))
    db.execute("DELETE FROM passwords WHERE key = 'user002'")  # an account left without one
    db.commit()
    db.close()
    b = Board(dir, "--channels", "4", "--new-users", "DEMO")
    try:
        await b.traced(r'removed the password of \\?"Carol')
        c = await Caller().connect(b.port)
        said = await sign_up(c, b"carol")
        check(b"taken" not in said, f"a half sign-up kept its id: {said!r}")
        check(b.stop() == 0, "board exit")
        listing = subprocess.run([kit.EXE.board, "account", "list", "--dir", dir], capture_output=True,
                                 text=True, timeout=30).stdout
        check('account "carol" keys "DEMO"\n' in listing, f"carol not whole: {listing[-300:]}")
        check('account "user002" keys "DEMO"  # no password' in listing, "an account without a password was removed")
    finally:
        b.stop()
    # SIGKILL at random moments of sign-ups: after a restart each is whole
    # (it logs on) or absent (it can be made again).
    rng, whole, kills = random.Random(8), 0, 3 if kit.EXE.quick else 12
    for run in range(kills):
        uid = b"kill%d" % run
        b = Board(dir, "--channels", "4", "--new-users", "DEMO")
        c = await Caller().connect(b.port)
        await c.expect(b"User-ID: ")
        c.send(b"new\r\n" + uid + b"\r\n" + PASSWORD + b"\r\n" + PASSWORD + b"\r\n")
        await asyncio.sleep(rng.uniform(0.0, 0.3))
        b.proc.kill()
        b.killed = True
        b.stop()
        b = Board(dir, "--channels", "4", "--new-users", "DEMO")
        try:
            said = await sign_up(await Caller().connect(b.port), uid)
            if b"is taken" in said:
                whole += 1
                await sign_on(b.port, uid.decode())
        finally:
            check(b.stop() == 0, "board exit")
    print(f"  a password with no account removed at start; the id signed up again; others kept;"
          f" {kills} kills mid-sign-up: {whole} whole, {kills - whole} absent, none half")


async def lock_wait(dir):
    """Boards starting beside `account list` in a loop all start; a second
    board beside a running one is still refused."""
    stop, listed = False, [0]

    def lister():
        while not stop:
            subprocess.run([kit.EXE.board, "account", "list", "--dir", dir], capture_output=True, timeout=30)
            listed[0] += 1
    loop, rng = asyncio.get_running_loop(), random.Random(18)
    tasks = [loop.run_in_executor(None, lister) for _ in range(2)]
    starts = 8 if kit.EXE.quick else 15
    try:
        for _ in range(starts):
            await asyncio.sleep(rng.uniform(0.05, 0.3))  # the lists take DIR's lock meanwhile
            b = Board(dir, "--channels", "2")
            check(b.stop() == 0, f"board exit {b.proc.returncode}")
    finally:
        stop = True
        await asyncio.gather(*tasks)
    b = Board(dir, "--channels", "2")
    try:
        start = time.monotonic()
        r = subprocess.run([kit.EXE.board, "--dir", dir, "--listen", "127.0.0.1:0"], capture_output=True,
                           text=True, timeout=30)
        took = time.monotonic() - start
        check(r.returncode == 1 and "in use by another host" in r.stderr, f"second board: {r.returncode} {r.stderr}")
        print(f"  {starts} starts beside {listed[0]} account lists: all started; a second board refused in {took:.2f} s")
    finally:
        b.stop()


async def web_dual_stack(dir):
    """On a dual-stack listener an IPv4 peer is a.b.c.d for every rule:
    loopback reads /metrics, --metrics-from and the trusted proxy match."""
    b = Board(dir, "--web", "[::]:0", "--web-trust-proxy", "127.0.0.2", "--metrics-from", "203.0.113.7")
    try:
        status, _ = await http_get(b.web, "/metrics")
        check(" 200 " in status, f"/metrics from 127.0.0.1 on [::]: {status}")
        status, _ = await http_get(b.web, "/metrics", "X-Forwarded-For: 203.0.113.7", source="127.0.0.2")
        check(" 200 " in status, f"/metrics for --metrics-from through the proxy on [::]: {status}")
        status, _ = await http_get(b.web, "/metrics", "X-Forwarded-For: 203.0.113.8", source="127.0.0.2")
        check(" 403 " in status, f"/metrics for another address through the proxy on [::]: {status}")
        print("  loopback, --metrics-from and the proxy's X-Forwarded-For held over IPv4 on [::]")
    finally:
        b.stop()


async def web_metrics(dir):
    """/metrics after a bump: the format parses, the bump's counters moved,
    and only loopback (or --metrics-from) may read it."""
    try:
        from prometheus_client.parser import text_string_to_metric_families
    except ImportError:  # Debian's python3-prometheus-client, under another Python
        sys.path.append("/usr/lib/python3/dist-packages")
        from prometheus_client.parser import text_string_to_metric_families
    shutil.copy(os.path.join(HERE, "..", "kill", "kill.mcv"), os.path.join(dir, "zorgaval.mcv"))
    b = Board(dir, "--channels", "4", "--speed", "200", "--web", "127.0.0.1:0",
              "--web-trust-proxy", "127.0.0.2", "--metrics-from", "198.51.100.7",
              "--web-host", "board.example")
    try:
        await sign_on(b.web, "kim", kind=WsCaller)
        for u in ("pat", "lee"):
            await sign_on(b.port, u)
        await b.traced(r'hangup \S+ "kim"', 10)
        again = await WsCaller().connect(b.web)
        await again.expect(b"User-ID: ")
        again.send(b"kim\r\n" + PASSWORD + b"\r\n")
        await b.traced(r'audit "Gaval delayed Log-on"', 10)
        status, text = await http_get(b.web, "/metrics")
        check(" 200 " in status, f"/metrics: {status}")
        got = {}
        for family in text_string_to_metric_families(text):
            for s in family.samples:
                got[(s.name, tuple(sorted(s.labels.items())))] = s.value
        want = {("zorgaval_bumps_total", ()): 1, ("zorgaval_warnings_total", ()): 1,
                ("zorgaval_delayed_logons_total", ()): 1,
                ("zorgaval_calls_total", (("transport", "ws"),)): 2,
                ("zorgaval_calls_total", (("transport", "telnet"),)): 2,
                ("zorgaval_logons_total", (("result", "accepted"),)): 3,
                ("zorgaval_channels", (("state", "online"),)): 2}
        for key, least in want.items():
            check(got.get(key, -1) >= least, f"{key}: {got.get(key)} (at least {least}) in\n{text}")
        check(got.get(("process_resident_memory_bytes", ()), 0) > 1 << 20, "no resident memory figure")
        r, w, line, _ = await wsclient.open_ws(b.web, "https://board.example", host="board.example")
        w.transport.abort()
        check(" 403 " in line, f"an https Origin over plain HTTP, no X-Forwarded-Proto: {line}")
        reader, writer = await asyncio.open_connection("127.0.0.1", b.web, local_addr=("127.0.0.2", 0))
        writer.write(wsclient.upgrade_request("board.example", "https://board.example").replace(
            b"\r\n\r\n", b"\r\nX-Forwarded-For: 203.0.113.9\r\nX-Forwarded-Proto: https\r\n\r\n"))
        line = (await asyncio.wait_for(reader.readuntil(b"\r\n"), 10)).decode()
        writer.transport.abort()
        check(" 101 " in line, f"the trusted proxy's X-Forwarded-Proto: https: {line}")
        reader, writer = await asyncio.open_connection("127.0.0.1", b.web, local_addr=("127.0.0.2", 0))
        writer.write(wsclient.upgrade_request(f"127.0.0.1:{b.web}").replace(
            b"\r\n\r\n", b"\r\nX-Forwarded-For: 2001:db8::7\r\n\r\n"))
        await b.traced(r' "ws \[2001:db8::7\]:\d+"')  # bracketed, as any IPv6 caller
        writer.transport.abort()
        proxy = "127.0.0.2"
        far, _ = await http_get(b.web, "/metrics", "X-Forwarded-For: 203.0.113.9", source=proxy)
        named, _ = await http_get(b.web, "/metrics", "X-Forwarded-For: 198.51.100.7", source=proxy)
        check(" 403 " in far and " 200 " in named, f"from afar: {far}; from --metrics-from: {named}")
        # Through the proxy without a bare client address: refused, never the proxy's own.
        for forwarded in ((), ("X-Forwarded-For: unknown",), ("X-Forwarded-For: 203.0.113.7:51234",)):
            status, _ = await http_get(b.web, "/metrics", *forwarded, source=proxy)
            check(" 400 " in status, f"/metrics through the proxy with {forwarded}: {status}")
        print(f"  {len(got)} samples parsed; bumps {got[('zorgaval_bumps_total', ())]:.0f}, "
              f"delayed {got[('zorgaval_delayed_logons_total', ())]:.0f}; another address refused")
    finally:
        b.stop()


async def web_tls(dir):
    """--web-tls: a pair that cannot serve stops the start (exit 1, the
    reason); a good one serves the page over HTTPS and callers over WSS."""
    import ssl
    (cert, key), (_, other) = tls_pair(dir, "a"), tls_pair(dir, "b")
    open(os.path.join(dir, "junk.crt"), "w").write("not a certificate\n")
    for c, k, why in ((cert, other, "does not match"), (os.path.join(dir, "none.crt"), key, "No such file"),
                      (os.path.join(dir, "junk.crt"), key, "cannot be used")):
        r = subprocess.run([kit.EXE.board, "--dir", dir, "--listen", "127.0.0.1:0", "--web", "127.0.0.1:0",
                            "--web-tls", c, k], capture_output=True, text=True, timeout=30)
        check(r.returncode == 1 and "--web-tls" in r.stderr and (why in r.stderr or "mismatch" in r.stderr),
              f"--web-tls {c} {k}: exit {r.returncode}: {r.stderr}")
    b = Board(dir, "--web", "127.0.0.1:0", "--web-tls", cert, key)
    try:
        tls = ssl.create_default_context(cafile=cert)
        c = await WsCaller().connect(b.web, tls=tls)
        await c.expect(b"User-ID: ")
        await b.traced(r'call \d+ "wss 127\.0\.0\.1:\d+"')
        c.close()
        print("  mismatched, missing and unreadable pairs refused with exit 1; a WSS caller reached the prompt")
    finally:
        b.stop()


CASES = {"signon": signon, "signals": signals, "control": control, "charset": charset,
         "new_users": new_users, "half_signup": half_signup, "lock_wait": lock_wait,
         "web_dual_stack": web_dual_stack, "web_metrics": web_metrics, "web_tls": web_tls}


if __name__ == "__main__":
    sys.exit(asyncio.run(kit.run(CASES, with_prepared=("signals",))))
