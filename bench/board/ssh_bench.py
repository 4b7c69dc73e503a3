#!/usr/bin/env python3
# The board over SSH beside telnet, with the Debian OpenSSH client: the time
# until 64 callers connecting at once all have the greeting (through the
# limit of ten handshakes in progress, each refused one calling again), the
# board's resident memory with 256 SSH callers signed on, and delivery in
# the teleconference (256 talkers, a line a second each, half over SSH and
# half over telnet, one client program timing both).
#   ssh_bench.py BOARD-PID SSH-PORT TELNET-PORT USERS-FILE PASSWORD SECONDS
import asyncio, os, re, sys, time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests",
                                "board"))
from client import TelnetText  # noqa: E402

pid, ssh_port, telnet_port = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
users = open(sys.argv[4]).read().split()
password, seconds = sys.argv[5], float(sys.argv[6])
GREETING = b"Zor Gaval live board."
STAMP = re.compile(rb": T(\d+)\r\n")


class Caller:
    def __init__(self):
        self.text, self.latencies = bytearray(), []
        self.decode = bytes  # over SSH the text comes as it is

    async def ssh(self, uid, n):
        while True:  # refused past the limit of handshakes in progress: again
            self.proc = await asyncio.create_subprocess_exec(
                "sshpass", "-p", password, "ssh", "-tt", "-p", str(ssh_port),
                "-b", f"127.0.3.{1 + n // 3}", "-o", "StrictHostKeyChecking=no",
                "-o", "UserKnownHostsFile=/dev/null", "-o", "LogLevel=QUIET", f"{uid}@127.0.0.1",
                stdin=asyncio.subprocess.PIPE, stdout=asyncio.subprocess.PIPE,
                stderr=asyncio.subprocess.DEVNULL, limit=1 << 20)
            self.reader, self.write = self.proc.stdout, self._ssh_write
            if await self.expect(GREETING, 30, quiet=True):
                return self
            await self.proc.wait()
            # Again a little later, spread, as a person would: not a storm
            # of process starts that would starve the board it measures.
            await asyncio.sleep(0.3 + os.urandom(1)[0] / 255)

    def _ssh_write(self, data):
        self.proc.stdin.write(data)

    async def telnet(self, uid):
        self.reader, writer = await asyncio.open_connection("127.0.0.1", telnet_port)
        self.write = writer.write
        screen = TelnetText()  # the board's telnet commands taken out, as any caller's
        self.decode = lambda data: screen.feed(data).take()
        await self.expect(b"User-ID: ", 30)
        self.write(uid.encode() + b"\r\n")
        await self.expect(b"Password: ", 30)
        self.write(password.encode() + b"\r\n")
        return self

    async def expect(self, want, timeout, quiet=False):
        end = time.monotonic() + timeout
        while want not in self.text:
            try:
                data = await asyncio.wait_for(self.reader.read(65536), end - time.monotonic())
            except asyncio.TimeoutError:
                data = b""
            if not data:
                if quiet:
                    return False
                raise SystemExit(f"no {want!r}: {bytes(self.text[-200:])!r}")
            self.text += self.decode(data)
        self.text = self.text[self.text.index(want) + len(want):]
        return True

    async def listen(self):
        while True:
            data = await self.reader.read(65536)
            if not data:
                return
            self.text += self.decode(data)
            now = time.monotonic_ns()
            cut = self.text.rfind(b"\n") + 1
            for m in STAMP.finditer(self.text, 0, cut):
                self.latencies.append(now - int(m.group(1)))
            del self.text[:cut]

    async def talk(self, until):
        await asyncio.sleep(os.urandom(1)[0] / 255)  # the talkers spread over the second
        while time.monotonic() < until:
            self.write(b"T%d\r" % time.monotonic_ns())
            await asyncio.sleep(1.0)


def rss_mb():
    return int(re.search(r"VmRSS:\s+(\d+)", open(f"/proc/{pid}/status").read()).group(1)) / 1024


def p99_ms(callers):
    all_ = sorted(x for c in callers for x in c.latencies)
    return (all_[int(len(all_) * 0.99)] / 1e6 if all_ else float("nan")), len(all_)


async def main():
    start = time.monotonic()
    first = await asyncio.gather(*[Caller().ssh(u, n) for n, u in enumerate(users[:64])])
    greeted = time.monotonic() - start
    for c in first:
        await c.expect(b"Welcome, ", 30)
    rest = []
    for i in range(64, 256, 30):
        wave = await asyncio.gather(*[Caller().ssh(u, n) for n, u in enumerate(users[i:i + 30], i)])
        rest += wave
    ssh = first + rest
    for c in rest:
        await c.expect(b"Welcome, ", 30)
    memory = rss_mb()
    for c in ssh[128:]:
        c.proc.kill()
        await c.proc.wait()
    await asyncio.sleep(1.0)  # their channels freed
    telnet = [await Caller().telnet(u) for u in users[128:256]]
    for c in telnet:
        await c.expect(b"Welcome, ", 30)
    everyone = ssh[:128] + telnet
    listening = [asyncio.create_task(c.listen()) for c in everyone]
    until = time.monotonic() + seconds
    await asyncio.gather(*[c.talk(until) for c in everyone])
    await asyncio.sleep(1.0)
    over_ssh, n_ssh = p99_ms(ssh[:128])
    over_telnet, n_telnet = p99_ms(telnet)
    print(f"  64 SSH callers at once, all greeted       {greeted:.2f} s")
    print(f"  resident memory, 256 SSH callers on      {memory:.1f} MB (goal under 64 MB)")
    print(f"  delivery p99 over SSH ({n_ssh} lines)     {over_ssh:.1f} ms")
    print(f"  delivery p99 over telnet ({n_telnet} lines)  {over_telnet:.1f} ms")
    print(f"  ratio SSH / telnet                        {over_ssh / over_telnet:.2f} (goal within 1.5)")
    for t in listening:
        t.cancel()
    for c in ssh[:128]:
        c.proc.kill()


asyncio.run(main())
