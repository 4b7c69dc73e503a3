#!/usr/bin/env python3
# The live board under load, garbage, slow callers, password guessing, kills
# and shutdown, over real loopback TCP; each case runs its own board on a
# free port in a temp DIR, is bounded in time and count, and stops by itself.
# functional.py holds the behaviours that need no load.
#   load.py BOARD SIM DBCHECK [--quick] [--only CASE,...]
import asyncio, ctypes, os, random, re, shutil, signal, subprocess, sys, tempfile, time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import async_board as kit  # noqa: E402
import wsclient  # noqa: E402
from client import IAC, SB, SE  # noqa: E402
from async_board import (BUSY, HERE, OPEN, PASSWORD, Board, Caller, Fail, WsCaller, check,  # noqa: E402
                         file_fingerprint, http_get, make_accounts, raw_http, served_fingerprint,
                         sign_on, sign_on_all, tls_pair, users)


# ---- telnet callers ----

async def capacity(dir):
    b = Board(dir, "--channels", "256")
    try:
        on = await sign_on_all(b.port, users(kit.N.signed_on))
        waiting = await asyncio.gather(*[Caller().connect(b.port) for _ in range(256 - len(on))])
        await asyncio.gather(*[c.expect(b"User-ID: ") for c in waiting])
        extra = await Caller().connect(b.port)
        await extra.expect(BUSY)
        check(await extra.closed(), "the 257th caller was not disconnected")
        for c in on + waiting:
            c.close()
        await b.traced(r"hangup \S+ \"%s\"" % users(kit.N.signed_on)[-1]) if on else None

        async def churn(calls):
            for i in range(0, calls, 50):
                batch = await asyncio.gather(*[Caller().connect(b.port) for _ in range(min(50, calls - i))])
                await asyncio.gather(*[c.expect(b"User-ID: ") for c in batch])
                for c in batch:
                    c.close()

        async def settled():
            # The board closes its side a moment after the caller's; let it.
            last = None
            for _ in range(50):
                now = b.fds()
                if now == last:
                    return now, b.rss_kb()
                last = now
                await asyncio.sleep(0.1)
            return last, b.rss_kb()

        await churn(100)
        fds0, rss0 = await settled()
        await churn(1000)
        fds1, rss1 = await settled()
        check(fds1 == fds0, f"open descriptors {fds0} -> {fds1} after 1000 calls")
        check(rss1 - rss0 <= 1024 or kit.SANITIZED, f"resident memory {rss0} -> {rss1} kB after 1000 calls")
        print(f"  256 callers, 257th busy; 1000 calls: fds {fds0} -> {fds1}, RSS {rss0} -> {rss1} kB")
    finally:
        b.stop()


async def garbage(dir):
    b = Board(dir, "--channels", "16")
    try:
        rss0 = b.rss_kb()
        rng = random.Random(14)
        floods = {
            "random bytes": bytes(rng.randrange(256) for _ in range(200_000)),
            "NUL bytes": b"\0" * 200_000,
            "1 MB line with no end": b"x" * (1 << 20),
            "telnet command flood": bytes([IAC, 253, 1, IAC, 251, 3, IAC, 241, IAC, 254, 24]) * 30_000,
            "unterminated subnegotiation": bytes([IAC, SB, 24]) + b"\x01" * (1 << 20),
            "high bytes at the prompts": bytes(range(0x80, 0x100)) * 800 + b"\r\n",
        }
        for what, data in floods.items():
            c = await Caller().connect(b.port)
            c.send(data)
            try:
                await asyncio.wait_for(c.writer.drain(), 10)
            except (ConnectionError, asyncio.TimeoutError):
                pass  # the board may hang up on garbage; it must still answer others
            took = await b.answers()
            c.close()
            print(f"  {what}: fresh caller answered in {took * 1000:.0f} ms, RSS {b.rss_kb()} kB")

        # Signed on: 0x80 and above in the conference, and a line past 255 bytes.
        x, y = await sign_on(b.port, "user000"), await sign_on(b.port, "user001")
        x.send(b"caf\xe9 \x80\xfe\xff\xff end\r\n")
        await y.expect(b" end", 3)
        x.send(b"L" * 300 + b"\r\n")
        line = await y.expect(b"\r\n", 3)
        while b"LLL" not in line:
            line = await y.expect(b"\r\n", 3)
        check(line.count(b"L") <= 255, f"a line of 300 bytes reached others with {line.count(b'L')}")
        await x.expect(b"255", 3)  # the caller is told the line was cut
        b.trace_is_escaped()
        # A password check still running for a caller who sent garbage holds
        # its 64 MiB for a moment: what stays is what counts.
        rss1 = b.rss_kb()
        for _ in range(50):
            if rss1 - rss0 < 8 * 1024:
                break
            await asyncio.sleep(0.1)
            rss1 = b.rss_kb()
        check(rss1 - rss0 < 8 * 1024 or kit.SANITIZED, f"resident memory {rss0} -> {rss1} kB on garbage")
        print(f"  conference: high bytes delivered, 300-byte line cut to {line.count(b'L')}; RSS {rss0} -> {rss1} kB")
    finally:
        b.stop()


async def slow(dir):
    b = Board(dir, "--channels", "16", "--prompt-timeout", "1", "--talk-rate", "1000/1000")
    try:
        start = time.monotonic()
        silent, typing = await Caller().connect(b.port), await Caller().connect(b.port)
        typing.send(b"user0")  # a line that never ends
        for c in (silent, typing):
            await c.expect(b"Time is up", 4)
            check(await c.closed(2), "a timed-out caller was not disconnected")
        check(len([l for l in b.lines() if " timeout " in l]) == 2, "a time-out without its trace line")
        print(f"  silent caller and half a line: 'Time is up' after {time.monotonic() - start:.1f} s")

        # A caller who stops reading; another caller's deliveries stay prompt.
        stuck = await Caller().connect(b.port, rcvbuf=4096)
        await stuck.expect(b"User-ID: ")
        stuck.send(b"user002\r\n")
        await stuck.expect(b"Password: ")
        stuck.send(PASSWORD + b"\r\n")
        stuck.writer.transport.pause_reading()  # from now on the kernel's buffers fill
        talker, reader = (await sign_on(b.port, "user000")).discard(), await sign_on(b.port, "user001")
        await b.traced(r'logon \S+ "user002" accepted')
        worst = 0.0
        for i in range(800):  # 800 lines of ~200 bytes: well past 64 KiB and the kernel's buffers
            sent = time.monotonic()
            talker.send(b"%04d " % i + b"z" * 190 + b"\r\n")
            await reader.expect(b"%04d " % i, 3)
            worst = max(worst, time.monotonic() - sent)
        await b.traced(r"overflow \d+ ", 5)
        await b.traced(r'hangup \S+ "user002"', 5)
        check(worst < 0.5, f"a reader waited {worst:.2f} s behind a stuck caller")
        print(f"  stuck reader cut after > 64 KiB; other reader's worst delivery {worst * 1000:.0f} ms")
        stuck.close()
    finally:
        b.stop()


async def guessing(dir):
    b = Board(dir, "--channels", "16", "--block-loopback", "--calls-per-address", "3")
    try:
        for uid in ("user000", "nosuchuser") * 2 + ("user000",):  # wrong passwords, unknown ids
            c = await Caller().connect(b.port)
            await c.expect(b"User-ID: ")
            c.send(uid.encode() + b"\r\n")
            await c.expect(b"Password: ")
            c.send(b"wrong\r\n")
            await c.expect(b": ")  # asked again: the failure has been counted
            c.close()
        await b.traced(r'block "127\.0\.0\.1"')
        c = await Caller().connect(b.port)
        check(await c.closed(3) and b"User-ID: " not in c.text, "a guessing address was let in")
        await b.traced(r'blocked "127\.0\.0\.1')
        await (await Caller().connect(b.port, source="127.0.0.2")).expect(b"User-ID: ")
        r = b.ctl("blocked")
        check(r.returncode == 0 and "127.0.0.1" in r.stdout, f"ctl blocked: {r.stdout}{r.stderr}")
        r = b.ctl("unblock", "127.0.0.1")
        check(r.returncode == 0 and "127.0.0.1" not in b.ctl("blocked").stdout, f"ctl unblock: {r.stderr}")
        await sign_on(b.port, "user000")
        # At most three calls at once from one address.
        three = [await Caller().connect(b.port, source="127.0.0.3") for _ in range(3)]
        await asyncio.gather(*[c.expect(b"User-ID: ") for c in three])
        fourth = await Caller().connect(b.port, source="127.0.0.3")
        check(await fourth.closed(3) and b"User-ID: " not in fourth.text, "a fourth call from one address")
        await b.traced(r'toomany "127\.0\.0\.3')
        print("  5 failures -> refused at connect, 127.0.0.2 still served, unblock lets it in; cap of 3 calls held")
    finally:
        b.stop()


async def faults(dir):
    b = Board(dir, "--channels", "16", "--talk-rate", "1000/1000")
    try:
        gone, talker = await sign_on(b.port, "user000"), (await sign_on(b.port, "user001")).discard()
        for i in range(200):  # output the board is still writing to gone
            talker.send(b"z" * 200 + b"\r\n")
        await asyncio.sleep(0.1)
        gone.reset()  # vanishes mid-write; more lines make the board write to it again
        for i in range(20):
            talker.send(b"z" * 200 + b"\r\n")
        mid = await Caller().connect(b.port)
        mid.send(b"user0")
        mid.reset()  # one mid-line at the prompt
        for uid in ("user002", "user003", "kim"):  # and some while their passwords are checked
            c = await Caller().connect(b.port)
            await c.expect(b"User-ID: ")
            c.send(uid.encode() + b"\r\n" + PASSWORD + b"\r\n")
            await c.expect(b"Password: ")
            c.reset()
        await b.traced(r'hangup \S+ "user000"')
        await b.answers()
        for _ in range(100):  # every channel is free again but the talker's
            who = b.ctl("who").stdout.splitlines()[1:]
            if len(who) == 1:
                break
            await asyncio.sleep(0.05)
        check(len(who) == 1 and "user001" in who[0], f"ctl who after the resets: {who}")
        talker.send(b"/quit\r\n")
        await b.traced(r'hangup \S+ "user001"')
        print("  reset mid-write, mid-line and mid-check: channels freed, board still answering")
    finally:
        b.stop()


async def descriptors(dir):
    """Out of descriptors, accepting backs off rather than spinning, and
    serves again once callers leave."""
    if kit.SANITIZED:  # UBSan's vptr check opens a pipe: out of descriptors, it reports falsely
        return print("  skipped: the sanitizers' own checks need descriptors")
    b = Board(dir, "--channels", "64", nofile=48)
    try:
        callers = await asyncio.gather(*[Caller().connect(b.port) for _ in range(60)])
        await asyncio.sleep(0.3)
        cpu = b.cpu_s()
        await asyncio.sleep(1)
        cpu = b.cpu_s() - cpu
        check(cpu < 0.3, f"{cpu:.2f} s of CPU in 1 s out of descriptors: accept spins")
        check(sum(" call " in l for l in b.lines()) < 60, "the descriptor limit was never reached")
        said = b.stderr().splitlines()[1:]
        check(len(said) == 1 and "accept" in said[0], f"the fault said {len(said)} times: {said[:3]}")
        for c in callers:
            c.close()
        took = await b.answers(3)
        print(f"  60 callers on 48 descriptors: {cpu:.2f} s CPU in 1 s; answered again in {took * 1000:.0f} ms")
    finally:
        b.stop()


async def kill(dir):
    lost = midrun = acked = 0
    rng = random.Random(9)
    for run in range(kit.N.kills):
        d = os.path.join(dir, f"run{run}")
        shutil.copytree(os.path.join(dir, "prepared"), d)
        shutil.copy(os.path.join(HERE, "..", "kill", "kill.mcv"), os.path.join(d, "zorgaval.mcv"))
        b = Board(d, "--channels", "4", "--speed", "200")
        try:
            for u in ("kim", "pat", "lee"):
                await sign_on(b.port, u)
            await b.traced(r'hangup \S+ "kim"', 10)
            # Keep it bumping: demo users refill the range, one after another,
            # and the kill lands at a random moment among their log-ons and bumps.
            for u in users(4):
                (await Caller().connect(b.port)).send(u.encode() + b"\r\n" + PASSWORD + b"\r\n")
                await asyncio.sleep(rng.uniform(0, 0.15))
        finally:
            b.proc.kill()
            b.killed = True
            midrun += b.proc.wait() == -signal.SIGKILL
            b.stop()
        bumped = {m.group(1) for l in b.lines() for m in [re.search(r'hangup \S+ "([^"]+)"', l)] if m}
        r = subprocess.run([kit.EXE.dbcheck, os.path.join(d, "zorgaval.dat")], capture_output=True, text=True)
        check(r.returncode == 0, f"run {run}: {r.stdout}{r.stderr}")
        scn = os.path.join(d, "delays.scn")
        open(scn, "w").write("delays\n")
        out = subprocess.run([kit.EXE.sim, "--dir", d, scn], capture_output=True, text=True, timeout=30).stdout
        stored = set(re.findall(r'delay "([^"]+)"', out))
        missing = {u for u in bumped if u not in ("pat", "lee")} - stored
        lost += len(missing)
        acked += len(bumped - {"pat", "lee"})
        check(not missing, f"run {run}: bumped {sorted(bumped)} but stored only {sorted(stored)}")
    print(f"  {kit.N.kills} kills ({midrun} while running): {acked} bumps in the traces, {lost} records lost")


async def shutdown(dir):
    b = Board(dir, "--channels", "256")
    try:
        on = await sign_on_all(b.port, users(kit.N.signed_on))
        rest = await asyncio.gather(*[Caller().connect(b.port) for _ in range(256 - len(on))])
        await asyncio.gather(*[c.expect(b"User-ID: ") for c in rest])
        start = time.monotonic()
        b.proc.send_signal(signal.SIGTERM)
        told = await asyncio.gather(*[c.closed(5) for c in on + rest])
        status = b.stop(10 - (time.monotonic() - start))
        took = time.monotonic() - start
        untold = [i for i, c in enumerate(on + rest) if not told[i] or b"down" not in c.text]
        check(not untold, f"{len(untold)} callers were not told the board is going down")
        check(any(l.endswith(" shutdown") for l in b.lines()), "no shutdown line (slot 9) in the trace")
        check(status == 0 and took < 5, f"exit {status} after {took:.1f} s")
        print(f"  256 callers told, slot 9 ran, exit 0 in {took:.2f} s")
    finally:
        b.stop()


async def bomb(dir):
    """Compression the board never offered, and floods of empty lines at the
    prompt: memory stays bounded per caller and the loop keeps answering."""
    import zlib
    b = Board(dir, "--channels", "16")
    try:
        rss0 = b.rss_kb()
        deflated = zlib.compress(b"\n" * (8 << 20), 9)  # 8 MB of line ends in ~8 KB
        bombers = []
        for _ in range(3):
            c = await Caller().connect(b.port)
            await c.expect(b"User-ID: ")
            c.send(bytes([IAC, SB, 86, IAC, SE]) + deflated)  # IAC SB COMPRESS2 IAC SE
            bombers.append(c)
        took = await b.answers(1.0)
        for c in bombers:
            check(await c.closed(5), "a caller who compressed unasked was not let go")
        check(len(await b.traced(r"garbled \d+ ")) == 3, "a compressing caller without its garbled line")
        rss1 = b.rss_kb()
        check(rss1 - rss0 < 3 * 512 or kit.SANITIZED, f"resident memory {rss0} -> {rss1} kB on 3 compression bombs")
        print(f"  3 COMPRESS2 bombs of 8 MB: let go as garbled, fresh caller in {took * 1000:.0f} ms, "
              f"RSS {rss0} -> {rss1} kB")

        # Empty lines as fast as loopback takes them, from callers who read
        # their echo; a signed-on pair times deliveries meanwhile.
        x, y = (await sign_on(b.port, "user000")).discard(), await sign_on(b.port, "user001")
        flooders = [(await Caller().connect(b.port)).discard() for _ in range(4)]
        for c in flooders:
            c.send(b"\n" * (4 << 20))
        peak, worst = rss1, 0.0
        for i in range(10):
            sent = time.monotonic()
            x.send(b"ping%d\r\n" % i)
            await y.expect(b"ping%d" % i, 3)
            worst = max(worst, time.monotonic() - sent)
            peak = max(peak, b.rss_kb())
            await asyncio.sleep(0.05)
        took = await b.answers(1.0)
        per = (peak - rss1) / len(flooders)
        check(per < 512 or kit.SANITIZED, f"resident memory {rss1} -> {peak} kB under 4 floods of empty lines")
        check(worst < 0.5, f"a delivery waited {worst:.2f} s behind floods of empty lines")
        print(f"  4 callers sending 4 MB of empty lines: RSS {rss1} -> {peak} kB ({per:.0f} kB a caller), "
              f"worst delivery {worst * 1000:.0f} ms, fresh caller in {took * 1000:.0f} ms")
    finally:
        b.stop()


async def flood(dir):
    """A talker who floods the teleconference is held to its rate; callers
    who keep reading keep their calls."""
    b = Board(dir, "--channels", "16")
    try:
        talker = await sign_on(b.port, "user000")
        readers = [await sign_on(b.port, u) for u in ("user001", "user002")]
        rss0 = b.rss_kb()

        async def read_for(c, seconds):
            end = time.monotonic() + seconds
            try:
                while time.monotonic() < end and not c.eof:
                    await c.read_some(end - time.monotonic())
            except asyncio.TimeoutError:
                pass

        start = time.monotonic()
        lines = b"".join(b"f%06d\r\n" % i for i in range(1 << 20 >> 3))  # 1 MB of short lines
        reading = [asyncio.create_task(read_for(c, 3.5)) for c in readers + [talker]]
        peak = 0
        for i in range(30):  # spread over 3 s, so the rate shows beside the burst
            talker.send(lines[i * len(lines) // 30:(i + 1) * len(lines) // 30])
            peak = max(peak, b.rss_kb())
            await asyncio.sleep(0.1)
        sending = time.monotonic() - start
        await asyncio.gather(*reading)
        allowed, least = 10 + 5 * sending + 2, 10 + 5 * (sending - 0.5)
        for c in readers:
            got = bytes(c.text).count(b"user000: f")
            check(not c.eof, "a reader lost the call to another's flood")
            check(least <= got <= allowed, f"a reader got {got} flooded lines in {sending:.1f} s "
                                           f"(from {least:.0f} to {allowed:.0f})")
        told = bytes(talker.text).count(b"You type faster")
        check(told == 1, f"the flooder was told {told} times")
        check(not [l for l in b.lines() if " overflow " in l], "a caller was cut as overflow")
        talker.text.clear()
        await asyncio.sleep(2.1)  # the bucket full again: a new spell, told once more
        talker.send(b"g\r\n" * 12)
        await talker.expect(b"You type faster", 3)
        print(f"  1 MB of lines from one talker over {sending:.1f} s: {got} reached each reader, "
              f"flooder told once, no overflow; RSS {rss0} -> {peak} kB")
    finally:
        b.stop()


async def queued(dir):
    """Shutdown drops the password checks not yet begun."""
    n = 64
    b = Board(dir, "--channels", str(n + 4))
    try:
        callers = await asyncio.gather(*[Caller().connect(b.port) for _ in range(n)])
        await asyncio.gather(*[c.expect(b"User-ID: ") for c in callers])
        for c in callers:
            c.send(b"user000\r\n")
        await asyncio.gather(*[c.expect(b"Password: ") for c in callers])
        for c in callers:
            c.send(b"\r\n")  # an empty password: a check queued for each
        await asyncio.sleep(0.3)
        start = time.monotonic()
        b.proc.send_signal(signal.SIGTERM)
        told = await asyncio.gather(*[c.closed(5) for c in callers])
        status = b.stop(15)
        took = time.monotonic() - start
        check(all(told) and all(b"down" in c.text for c in callers), "a caller was not told the board is going down")
        check(status == 0 and took < 2.5, f"exit {status} {took:.1f} s after SIGTERM with {n} checks queued")
        print(f"  {n} password checks queued: exit 0 {took:.2f} s after SIGTERM")
    finally:
        b.stop()


async def guessing_at_once(dir):
    """Ten calls from one address guessing at once: no more are checked than
    the limit, and the rest are let go unchecked."""
    b = Board(dir, "--channels", "16", "--block-loopback", "--fail-limit", "5")
    try:
        calls = await asyncio.gather(*[Caller().connect(b.port) for _ in range(10)])
        await asyncio.gather(*[c.expect(b"User-ID: ") for c in calls])
        for c in calls:  # three tries each, typed ahead: they wait while one is checked
            c.send(b"user000\r\nwrong\r\n" * 3)
        closed = await asyncio.gather(*[c.closed(15) for c in calls])
        check(all(closed), f"{closed.count(False)} calls still on after their tries")
        checked = [l for l in b.lines() if re.search(r'logon \S+ "user000" rejected', l)]
        blocks = [l for l in b.lines() if 'block "127.0.0.1"' in l]
        told = sum(b"Too many failed log-ons from your address" in c.text for c in calls)
        check(len(checked) <= 5, f"{len(checked)} guesses checked past a limit of 5")
        check(len(blocks) == 1, f"{len(blocks)} block lines")
        c = await Caller().connect(b.port)
        check(await c.closed(3) and b"User-ID: " not in c.text, "a blocked address was let in")
        print(f"  10 calls x 3 guesses at once: {len(checked)} checked, {told} calls let go as blocked")
    finally:
        b.stop()


# ---- SSH callers ----

class SshCaller:
    """The OpenSSH client from SOURCE, its password given by sshpass, or a
    client that stalls once the keys are exchanged (its askpass never answers)."""

    async def start(self, port, uid, password=PASSWORD, source="127.0.0.1", stall=False):
        ssh = ["ssh", "-tt", "-p", str(port), "-b", source, "-o", "StrictHostKeyChecking=no",
               "-o", "UserKnownHostsFile=/dev/null", "-o", "LogLevel=ERROR", f"{uid}@127.0.0.1"]
        env = dict(os.environ)
        if stall:
            env.update(SSH_ASKPASS=STALL, SSH_ASKPASS_REQUIRE="force")
            cmd = ssh
        else:
            cmd = ["sshpass", "-p", password.decode()] + ssh
        self.proc = await asyncio.create_subprocess_exec(
            *cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
            env=env, start_new_session=True, preexec_fn=lambda: ctypes.CDLL(None).prctl(1, signal.SIGKILL))
        self.text = bytearray()
        OPEN.append(self)
        return self

    async def expect(self, want, timeout=10.0):
        end = time.monotonic() + timeout
        while want not in self.text:
            try:
                data = await asyncio.wait_for(self.proc.stdout.read(65536), max(0.01, end - time.monotonic()))
            except asyncio.TimeoutError:
                raise Fail(f"ssh: no {want!r} within {timeout} s; read {bytes(self.text[-300:])!r}")
            check(data, f"ssh ended while waiting for {want!r}; read {bytes(self.text[-300:])!r}")
            self.text += data
        head, _, rest = bytes(self.text).partition(want)
        self.text = bytearray(rest)
        return head

    async def ended(self, timeout=10.0):
        try:
            return await asyncio.wait_for(self.proc.wait(), timeout)
        except asyncio.TimeoutError:
            return None

    def close(self):
        if self.proc.returncode is None:
            self.proc.kill()


STALL = os.path.join(tempfile.gettempdir(), f"zorgaval-stall-{os.getpid()}.sh")


async def raw_ssh(port, source, data=b"SSH-2.0-load\r\n"):
    """A TCP connection from SOURCE that says DATA: answers whether the board
    began SSH with it (its version line), and the connection."""
    c = await Caller().connect(port, source=source)
    c.send(data)
    try:
        await c.read_some(1.0)
    except (asyncio.TimeoutError, ConnectionError):
        pass
    return bytes(c.text).startswith(b"SSH-2.0-"), c


async def ssh_sign_on(port, names, wave=9):
    """Signed on in waves of three addresses, three from each: the most the
    listener takes in progress from one address."""
    on = []
    for i in range(0, len(names), wave):
        batch = [await SshCaller().start(port, uid, source=f"127.0.0.{11 + j // 3}")
                 for j, uid in enumerate(names[i:i + wave])]
        await asyncio.gather(*[c.expect(b"Welcome, ", 30) for c in batch])
        on += batch
    return on


async def ssh_capacity(dir):
    n = kit.N.signed_on
    b = Board(dir, "--channels", str(n), "--ssh", "127.0.0.1:0")
    try:
        start = time.monotonic()
        on = await ssh_sign_on(b.ssh_port, users(n))
        took = time.monotonic() - start
        extra = await SshCaller().start(b.ssh_port, "kim")
        await extra.expect(BUSY)
        check(await extra.ended() is not None, "the caller past the channels was not disconnected")
        print(f"  {n} SSH callers signed on in {took:.1f} s, RSS {b.rss_kb()} kB; the next one busy")
        who = b.ctl("who").stdout.splitlines()[1:]
        check(len(who) == n and all(w.endswith(" ssh") for w in who), f"ctl who: {who[:3]}")
    finally:
        b.stop()


async def ssh_storm(dir):
    """64 connections at once from 16 addresses: ten handshakes go on, the
    rest are closed unworked; a signed-on telnet caller is served meanwhile."""
    b = Board(dir, "--channels", "8", "--ssh", "127.0.0.1:0", "--prompt-timeout", "3")
    try:
        talker = await sign_on(b.port, "user000")
        results = await asyncio.gather(*[raw_ssh(b.ssh_port, f"127.0.1.{1 + i % 16}")
                                         for i in range(64)])
        began = sum(1 for ok, _ in results if ok)
        answered = await b.answers()
        check(began == 10, f"{began} of 64 connections at once began SSH; at most 10 may")
        closed = await asyncio.gather(*[c.closed(6) for _, c in results])
        check(all(closed), "a storm connection outlived the grace")
        talker.send(b"/who\r\n")
        await talker.expect(b"On line:")
        late = await ssh_sign_on(b.ssh_port, ["user001"])
        print(f"  storm of 64: {began} began, a telnet prompt in {answered * 1000:.0f} ms")
        late[0].close()
    finally:
        b.stop()


async def ssh_stalled(dir):
    """Clients that stop after the key exchange: three from one address hold
    its share, a fourth is closed at once; the grace ends them all."""
    marks = STALL + ".d"
    os.makedirs(marks, exist_ok=True)
    with open(STALL, "w") as f:  # each marks that it was asked, then never answers
        f.write(f"#!/bin/sh\ntouch {marks}/$$\nexec sleep 60\n")
    os.chmod(STALL, 0o755)
    b = Board(dir, "--channels", "8", "--ssh", "127.0.0.1:0", "--prompt-timeout", "6")
    stalled = []
    try:
        stalled += [await SshCaller().start(b.ssh_port, "user000", source="127.0.0.31", stall=True)
                    for _ in range(3)]
        for _ in range(200):  # all three past the key exchange, at their password
            if len(os.listdir(marks)) == 3:
                break
            await asyncio.sleep(0.02)
        check(len(os.listdir(marks)) == 3, "the stalling clients did not reach their password")
        began, fourth = await raw_ssh(b.ssh_port, "127.0.0.31")
        check(not began and await fourth.closed(1), "a fourth handshake from one address was let begin")
        # The clients wait on their askpass and cannot notice; the board's
        # share for the address tells that the grace closed them.
        await asyncio.sleep(6.5)
        began, again = await raw_ssh(b.ssh_port, "127.0.0.31")
        check(began, "the address's share was not given back")
        print("  3 stalled after the key exchange, the 4th refused, all closed by the grace")
    finally:
        for c in stalled:
            c.close()
        b.stop()
        shutil.rmtree(marks, ignore_errors=True)
        os.unlink(STALL)


async def ssh_garbage(dir):
    b = Board(dir, "--channels", "8", "--ssh", "127.0.0.1:0")
    try:
        rng = random.Random(19)
        floods = {"random bytes": bytes(rng.randrange(256) for _ in range(200_000)),
                  "an HTTP request": b"GET / HTTP/1.1\r\nHost: x\r\n\r\n",
                  "NUL bytes": b"\0" * 100_000,
                  "a version line, then garbage": b"SSH-2.0-x\r\n" + b"\xff" * 100_000}
        for what, data in floods.items():
            _, c = await raw_ssh(b.ssh_port, "127.0.0.41", data)
            gone = await c.closed(5) or c.writer.transport.is_closing()  # closed or reset
            check(gone, f"{what} in place of SSH: the connection stays open")
        await b.answers()
        on = await ssh_sign_on(b.ssh_port, ["user000"])
        on[0].close()
    finally:
        b.stop()


# ---- the web listener's cases: callers over WebSocket, and HTTP abuse ----

async def ws_in_eights(port, n, **kw):
    """N WebSocket callers at their prompt, opened 8 at a time: the listener
    serves 8 HTTP connections an address until each becomes a call."""
    out = []
    for i in range(0, n, 8):
        batch = await asyncio.gather(*[WsCaller().connect(port, **kw) for _ in range(min(8, n - i))])
        await asyncio.gather(*[c.expect(b"User-ID: ") for c in batch])
        out += batch
    return out


async def web_answers(port, host):
    """HEAD has GET's head and no body; other methods on /metrics and the
    console's page are 405; the console's frame-ancestors stands; a name
    not the board's (DNS rebinding) is refused, upgrade and /metrics alike."""
    for path in ("/", "/metrics", "/console", "/console/console.js"):
        ask = f"HEAD {path} HTTP/1.1\r\nHost: {host}\r\n\r\nGET {path} HTTP/1.1\r\nHost: {host}\r\nConnection: close\r\n\r\n"
        got, _ = await raw_http(port, ask.encode())
        head, _, rest = got.partition(b"\r\n\r\n")
        length = re.search(rb"(?i)content-length: (\d+)", head)
        again, _, body = rest.partition(b"\r\n\r\n")
        check(head.startswith(b"HTTP/1.1 200") and length and again.startswith(b"HTTP/1.1 200")
              and int(length.group(1)) == len(body) > 0, f"HEAD {path}: {got[:400]!r}")
        if path.startswith("/console"):
            check(b"frame-ancestors 'none'" in head, f"HEAD {path}: no frame-ancestors in {head!r}")
    for path in ("/metrics", "/console"):
        for method in ("POST", "PUT", "DELETE"):
            got, _ = await raw_http(port, f"{method} {path} HTTP/1.1\r\nHost: {host}\r\nContent-Length: 0\r\n\r\n".encode())
            check(got.startswith(b"HTTP/1.1 405") and b"\r\nAllow: GET, HEAD" in got, f"{method} {path}: {got[:200]!r}")
    status, _ = await http_get(port, "/metrics", "Host: rebind.example")
    r, w, line, _ = await wsclient.open_ws(port, "http://rebind.example", host="rebind.example")
    w.transport.abort()
    check(" 421 " in status and " 421 " in line, f"Host rebind.example: /metrics {status}, /ws {line}")


async def web_capacity(dir):
    channels = 16 if kit.EXE.quick else 256
    b = Board(dir, "--channels", str(channels), "--web", "127.0.0.1:0")
    try:
        on = await sign_on(b.web, "user000", kind=WsCaller)
        rest = await ws_in_eights(b.web, channels - 1)
        extra = await WsCaller().connect(b.web)
        await extra.expect(BUSY)
        check(await extra.closed(), "the caller past the channels was not disconnected")
        await b.traced(r'call 0 "ws 127\.0\.0\.1:\d+"')
        rss = b.rss_kb()
        for c in [on] + rest:
            c.close()
        await b.traced(r"hangup %d " % (channels - 1))
        await b.answers(3)
        print(f"  {channels} WebSocket callers, the next told busy; RSS {rss} kB")
    finally:
        b.stop()


async def web_http(dir):
    b = Board(dir, "--web", "127.0.0.1:0")
    try:
        host = f"127.0.0.1:{b.web}"
        got, _ = await raw_http(b.web, f"GET / HTTP/1.1\r\nHost: {host}\r\nConnection: close\r\n\r\n".encode())
        check(got.startswith(b"HTTP/1.1 200") and b"Content-Security-Policy: default-src 'self'" in got
              and b"X-Content-Type-Options: nosniff" in got, f"the page: {got[:300]!r}")
        start = time.monotonic()
        got, closed = await raw_http(b.web, b"GET / HTTP/1.1\r\nHost: x\r\n", timeout=15, pace=(1, 0.5))
        slow = time.monotonic() - start
        check(closed and not got and slow < 14, f"slowloris: closed {closed} after {slow:.1f} s, read {got[:80]!r}")
        got, closed = await raw_http(b.web, b"GET / HTTP/1.1\r\nX-Big: " + b"a" * (1 << 20) + b"\r\n\r\n")
        check(closed and b" 200 " not in got, f"1 MB header: closed {closed}, read {got[:80]!r}")
        body = b"x" * (65 * 1024)
        got, closed = await raw_http(b.web, b"POST / HTTP/1.1\r\nHost: x\r\nContent-Length: %d\r\n\r\n" % len(body) + body)
        check(closed and b" 200 " not in got, f"65 KiB body: closed {closed}, read {got[:80]!r}")
        for origin, status in (("http://evil.example", " 403 "), (f"http://{host}", " 101 "), (None, " 101 ")):
            r, w, line, _ = await wsclient.open_ws(b.web, origin)
            w.transport.abort()
            check(status in line, f"Origin {origin}: {line!r}, not{status}")
        held = [await asyncio.open_connection("127.0.0.1", b.web) for _ in range(8)]
        got, closed = await raw_http(b.web, f"GET / HTTP/1.1\r\nHost: {host}\r\n\r\n".encode(), timeout=3)
        check(closed and not got, f"the 9th connection from one address: closed {closed}, read {got[:80]!r}")
        for _, w in held:
            w.transport.abort()
        await asyncio.sleep(0.2)
        got, _ = await raw_http(b.web, f"GET /metrics HTTP/1.1\r\nHost: {host}\r\nConnection: close\r\n\r\n".encode())
        check(b" 200 " in got and b"zorgaval_calls_total" in got, f"metrics after the caps: {got[:200]!r}")
        await web_answers(b.web, host)
        await b.answers()
        print(f"  slowloris closed in {slow:.1f} s; 1 MB header, 65 KiB body, foreign Origin, 9th connection refused")
    finally:
        b.stop()


async def web_flood(dir):
    """Eight idle half-sent heads from each of eight ranges fill the
    listener; a ninth range is still answered, its busiest rival's oldest
    idle head giving way, while the flooding ranges gain nothing."""
    b = Board(dir, "--web", "127.0.0.1:0")
    try:
        held = []
        for k in range(1, 9):
            for _ in range(8):
                r, w = await asyncio.open_connection("127.0.0.1", b.web, local_addr=(f"127.0.{k}.1", 0))
                w.write(b"GET / HTTP/1.1\r\nHost: x\r\n")
                held.append(w)
        OPEN.extend(type("Raw", (), {"close": lambda self, w=w: w.transport.abort()})() for w in held)
        await asyncio.sleep(1)  # every head accepted and idle
        got, closed = await raw_http(b.web, f"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n".encode(),
                                     timeout=3, source="127.0.8.2")
        check(closed and not got, f"a flooding range gained a connection: {got[:80]!r}")
        start = time.monotonic()
        got, _ = await raw_http(b.web, b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n",
                                timeout=5, source="127.0.9.1")
        took = time.monotonic() - start
        check(got.startswith(b"HTTP/1.1 200") and took < 2, f"a fresh range under the flood: {took:.2f} s, {got[:80]!r}")
        print(f"  64 idle heads from 8 ranges; a fresh range answered in {took * 1000:.0f} ms")
    finally:
        b.stop()


async def console_shutdown(dir):
    """SIGTERM with console sign-ins queued on the hashing workers exits
    within a second, not after the sign-ins' answer limit."""
    make_accounts(dir, ["op"], "SYSOP")
    b = Board(dir, "--web", "127.0.0.1:0")
    try:
        body = b'{"user":"op","password":"load-test-pw"}'
        ask = (f"POST /console/api/signin HTTP/1.1\r\nHost: 127.0.0.1:{b.web}\r\nContent-Type: application/json\r\n"
               f"Content-Length: {len(body)}\r\n\r\n").encode() + body
        for k in range(8):
            r, w = await asyncio.open_connection("127.0.0.1", b.web, local_addr=(f"127.0.0.{10 + k}", 0))
            w.write(ask)
            OPEN.append(type("Raw", (), {"close": lambda self, w=w: w.transport.abort()})())
        await asyncio.sleep(0.2)
        start = time.monotonic()
        b.proc.send_signal(signal.SIGTERM)
        code = b.stop(timeout=10)
        took = time.monotonic() - start
        # Within 5 s: a check a worker is in finishes first (under 0.1 s on
        # an idle machine); the fault held the exit for the 30 s answer limit.
        check(code == 0 and took < 5, f"SIGTERM with 8 sign-ins queued: exit {code} after {took:.2f} s")
        print(f"  exit 0 {took * 1000:.0f} ms after SIGTERM with 8 sign-ins queued")
    finally:
        b.stop()


async def web_frames(dir):
    b = Board(dir, "--web", "127.0.0.1:0", "--channels", "8")
    try:
        floods = {
            "an unmasked frame": wsclient.frame(b"kim\r\n", mask=False),
            "a reserved opcode": wsclient.frame(b"x", opcode=3),
            "a message past the limit": wsclient.frame(b"x" * (64 * 1024)),
            "random bytes": bytes(random.Random(3).randrange(256) for _ in range(100_000)),
            "a fragment never finished": wsclient.frame(b"x" * 1000, fin=False) * 40,
        }
        c = await WsCaller().connect(b.web)
        await c.expect(b"User-ID: ")
        c.writer.write(wsclient.frame(b"\x03\xe8", opcode=8))  # Close, the TCP kept open
        await b.traced(r"hangup 0 ", 3)
        for what, data in floods.items():
            c = await WsCaller().connect(b.web)
            await c.expect(b"User-ID: ")
            c.writer.write(data)
            check(await c.closed(10), f"{what}: the call did not end")
        c = await WsCaller().connect(b.web)
        await c.expect(b"User-ID: ")
        c.send(b"y" * 300 + b"\r\n")
        await c.expect(b"cut at 255")
        c.send(b'{"cols":132,"rows":50}', opcode=1)
        c.close()
        await b.answers()
        print(f"  {len(floods)} bad streams each ended their call; a 300-byte line was cut; the board answers")
    finally:
        b.stop()


async def web_stall(dir):
    b = Board(dir, "--web", "127.0.0.1:0", "--talk-rate", "1000/1000")
    try:
        staller = await sign_on(b.web, "user001", kind=WsCaller)
        staller.writer.transport.pause_reading()  # reads nothing more from here
        talker = (await sign_on(b.port, "user002")).discard()
        for i in range(1500):
            talker.send(b"%04d " % i + b"z" * 200 + b"\r\n")
            if i % 50 == 0:
                await asyncio.sleep(0.01)
        hits = await b.traced(r'overflow \d+ "ws 127\.0\.0\.1', 20)
        await b.answers()
        print(f"  a WebSocket that stopped reading ended as {hits[0].split(' ', 2)[2]!r}")
    finally:
        b.stop()


async def web_reload(dir):
    """SIGHUP under load: the TLS pair renewed in place under the same names
    while 50 WSS callers wait at their prompt; none is dropped, each is still
    answered; a new caller is served the new certificate; the reload line
    names what changed, one warning what waits for a restart. Then a file
    gone bad and a pair that does not match: each one error line, nothing
    changed, the board on."""
    import ssl
    (first, first_key), (renewed, renewed_key), (_, wrong_key) = (tls_pair(dir, n) for n in "abc")
    conf = os.path.join(dir, "board.conf")

    def configure(settings, cert, key):
        for source, name in ((cert, "live.crt"), (key, "live.key")):
            shutil.copy(source, os.path.join(dir, name + ".new"))
            os.replace(os.path.join(dir, name + ".new"), os.path.join(dir, name))
        open(conf, "w").write("web-tls = live.crt live.key\n" + settings)

    async def refusals(n):
        end = time.monotonic() + 20
        while len([l for l in b.lines() if 'warning "reload refused' in l]) < n:
            check(time.monotonic() < end, f"no refused reload {n} within 20 s: {b.stderr()[-300:]}")
            await asyncio.sleep(0.05)

    configure("prompt-timeout = 3600\n", first, first_key)
    tls = ssl.create_default_context()
    tls.check_hostname, tls.verify_mode = False, ssl.CERT_NONE
    b = Board(dir, "--config", conf, "--channels", "64", "--web", "127.0.0.1:0")
    try:
        callers = await ws_in_eights(b.web, 50, tls=tls)
        check(served_fingerprint(callers[0]) == file_fingerprint(first), "the first pair was not served")
        configure("prompt-timeout = 1800\nfirst = 10\n", renewed, renewed_key)
        b.proc.send_signal(signal.SIGHUP)
        line = (await b.traced(r" reload ", 20))[0]
        check(line.endswith(" reload prompt-timeout web-tls"), f"the reload line: {line}")
        check("zorgaval-board: reload: changed, and kept as they run until a restart: --first\n" in b.stderr(),
              f"no restart warning: {b.stderr()}")
        for i, c in enumerate(callers):
            c.send(b"user%03d\r\n" % i)
        await asyncio.gather(*[c.expect(b"Password: ", 20) for c in callers])
        for n, (settings, key, error) in enumerate((("prompt-timeout = 0\n", renewed_key, "board.conf:2: --prompt-timeout"),
                                                     ("", wrong_key, "live.key\" cannot be used"))):
            said = len(b.stderr())
            configure(settings, renewed, key)
            b.proc.send_signal(signal.SIGHUP)
            await refusals(n + 1)
            lines = b.stderr()[said:].splitlines()
            check(len(lines) == 1 and error in lines[0], f"a bad reload said: {lines}")
        fresh = await WsCaller().connect(b.web, tls=tls)
        await fresh.expect(b"User-ID: ")
        check(served_fingerprint(fresh) == file_fingerprint(renewed), "a new caller was not served the renewed pair")
        check(len([l for l in b.lines() if " reload " in l]) == 1, "a refused reload changed something")
        check(not [l for l in b.lines() if " hangup " in l], "a caller was dropped")
        print("  50 WSS callers kept through a renewed pair; a new one served it; a bad file and pair refused")
    finally:
        b.stop()


CASES = {"capacity": capacity, "garbage": garbage, "slow": slow, "guessing": guessing,
         "faults": faults, "descriptors": descriptors, "kill": kill, "shutdown": shutdown,
         "bomb": bomb, "flood": flood, "queued": queued, "guessing_at_once": guessing_at_once,
         "ssh_capacity": ssh_capacity, "ssh_storm": ssh_storm, "ssh_stalled": ssh_stalled,
         "ssh_garbage": ssh_garbage, "web_capacity": web_capacity, "web_http": web_http,
         "web_flood": web_flood, "console_shutdown": console_shutdown, "web_frames": web_frames,
         "web_stall": web_stall, "web_reload": web_reload}


if __name__ == "__main__":
    sys.exit(asyncio.run(kit.run(CASES, with_prepared=("kill",))))
