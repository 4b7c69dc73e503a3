"""The live board and its callers on asyncio, for the drivers that run many
callers at once (load.py, functional.py): the board process in a DIR of
its own with its trace in a file, telnet and WebSocket callers, raw HTTP,
accounts made in bulk, and the run of a table of cases, each on a fresh
copy of a prepared DIR, bounded in time, its boards made to end with 0.

The drivers' command line: BOARD SIM DBCHECK [--quick] [--only CASE,...]
[--keep DIR]."""
import argparse, asyncio, concurrent.futures, ctypes, hashlib, os, re, resource, shutil, signal
import subprocess, sys, tempfile, time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wsclient  # noqa: E402
from client import AsyncCaller as Caller, Fail, check  # noqa: E402

# Set by run() from the command line: the programs and --quick, the sizes
# of the run, and whether the board is built with AddressSanitizer.
EXE = N = SANITIZED = None

HERE = os.path.dirname(os.path.abspath(__file__))
PASSWORD = b"load-test-pw"
BUSY = b"All channels are busy. Please call back later."
OPEN = Caller.opened  # every caller of the case, hung up before its board is stopped
BOARDS = []  # every board of the case: each must have ended with status 0


class WsCaller(Caller):
    """A caller over the board's WebSocket: frames in and out, the same expect()."""

    async def connect(self, port, origin=None, rcvbuf=None, tls=None):
        self.reader, self.writer, self.status, self.frames = await wsclient.open_ws(
            port, origin, rcvbuf=rcvbuf, tls=tls)
        OPEN.append(self)
        check(" 101 " in self.status, f"the upgrade was answered {self.status!r}")
        return self

    def _feed(self, data):
        self.frames.feed(data)
        self.text += self.frames.text
        self.frames.text.clear()

    def send(self, data, opcode=2):
        self.writer.write(wsclient.frame(data, opcode))


async def sign_on(port, uid, password=PASSWORD, kind=Caller):
    c = await kind().connect(port)
    await c.expect(b"User-ID: ")
    c.send(uid.encode() + b"\r\n")
    await c.expect(b"Password: ")
    c.send(password + b"\r\n")
    await c.expect(b"Welcome, " + uid.encode(), 10)
    await c.expect(b"\r\n")
    return c


async def sign_on_all(port, names):
    """Signs NAMES on, 16 at a time: the board hashes one password per spare core."""
    on = []
    for i in range(0, len(names), 16):
        on += await asyncio.gather(*[sign_on(port, u) for u in names[i:i + 16]])
    return on


class Board:
    """A board process in DIR, its trace in DIR/trace.out, its stderr in DIR/stderr.out."""

    def __init__(self, dir, *flags, nofile=None):
        self.dir, self.killed = dir, False
        BOARDS.append(self)

        def limit():
            ctypes.CDLL(None).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG: it dies with the driver
            if nofile:
                resource.setrlimit(resource.RLIMIT_NOFILE, (nofile, nofile))
        self.trace, self.err = os.path.join(dir, "trace.out"), os.path.join(dir, "stderr.out")
        self.proc = subprocess.Popen(
            [EXE.board, "--dir", dir, "--listen", "127.0.0.1:0", *flags],
            stdout=open(self.trace, "wb"), stderr=open(self.err, "wb"), stdin=subprocess.DEVNULL, preexec_fn=limit)
        end = time.monotonic() + 10
        while time.monotonic() < end:
            m = re.search(r"zorgaval-board: listening on 127\.0\.0\.1:(\d+)", self.stderr())
            ssh = re.search(r"ssh listening on 127\.0\.0\.1:(\d+)", self.stderr())
            web = re.search(r"zorgaval-board: web listening on (?:127\.0\.0\.1|\[::\]):(\d+)", self.stderr())
            if m and (ssh or "--ssh" not in flags) and (web or "--web" not in flags):
                self.port = int(m.group(1))
                self.ssh_port = int(ssh.group(1)) if ssh else None
                self.web = int(web.group(1)) if web else None
                return
            check(self.proc.poll() is None, f"board exited {self.proc.returncode}: {self.stderr()}")
            time.sleep(0.02)
        self.proc.kill()
        raise Fail("board did not listen within 10 s")

    def stderr(self):
        return open(self.err, errors="replace").read()

    def lines(self):
        return open(self.trace, "rb").read().decode("ascii", "replace").splitlines()

    async def traced(self, pattern, timeout=5.0):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            hits = [l for l in self.lines() if re.search(pattern, l)]
            if hits:
                return hits
            await asyncio.sleep(0.02)
        raise Fail(f"no trace line like {pattern!r} within {timeout} s")

    def rss_kb(self):
        status = open(f"/proc/{self.proc.pid}/status").read()
        return int(re.search(r"VmRSS:\s+(\d+)", status).group(1))

    def fds(self):
        return len(os.listdir(f"/proc/{self.proc.pid}/fd"))

    def cpu_s(self):
        fields = open(f"/proc/{self.proc.pid}/stat").read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    async def answers(self, within=1.0):
        """A fresh caller reads the prompt promptly: the board is alive and not blocked."""
        check(self.proc.poll() is None, f"board died: exit {self.proc.returncode}: {self.stderr()[-500:]}")
        start = time.monotonic()
        c = await Caller().connect(self.port)
        await c.expect(b"User-ID: ", within)
        c.close()
        return time.monotonic() - start

    def ctl(self, *words):
        r = subprocess.run([EXE.board, "ctl", *words, "--dir", self.dir],
                           capture_output=True, text=True, timeout=10)
        time.sleep(0.05)
        check(self.proc.poll() is None, f"board died (exit {self.proc.returncode}) on ctl {' '.join(words)}")
        return r

    def stop(self, timeout=10):
        while OPEN:
            OPEN.pop().close()
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        try:
            end = time.monotonic() + timeout
            while self.proc.poll() is None and time.monotonic() < end:
                time.sleep(0.02)
            return self.proc.wait(0)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            return self.proc.wait()

    def trace_is_escaped(self):
        raw = open(self.trace, "rb").read()
        bad = [l for l in raw.split(b"\n") if any(b < 0x20 or b > 0x7E for b in l)]
        check(not bad, f"trace line with raw bytes: {bad[:1]!r}")


def make_accounts(dir, names, keys=""):
    """Accounts with PASSWORD, two at a time through a board running in DIR:
    each `account add` hashes in its own process, one per core."""
    def add(uid):
        cmd = [EXE.board, "account", "add", uid, "--dir", dir] + (["--keys", keys] if keys else [])
        r = subprocess.run(cmd, input=PASSWORD + b"\n", capture_output=True, timeout=60)
        check(r.returncode == 0, f"account add {uid}: {r.stderr.decode()}")
    b = Board(dir)
    try:
        list(concurrent.futures.ThreadPoolExecutor(2).map(add, names))
        check(b.stop() == 0, f"board exit status {b.proc.returncode} after account adds")
    finally:
        b.stop()


def users(n):
    return [f"user{i:03d}" for i in range(n)]


async def raw_http(port, data, timeout=12.0, pace=None, source=None):
    """Sends DATA (in pieces of PACE=(bytes, seconds) if given) from SOURCE;
    answers what came back and whether the board closed the connection in time."""
    reader, writer = await asyncio.open_connection("127.0.0.1", port, local_addr=source and (source, 0))
    OPEN.append(type("Raw", (), {"close": lambda self: writer.transport.abort()})())
    try:
        if pace:
            for i in range(0, len(data), pace[0]):
                writer.write(data[i:i + pace[0]])
                await asyncio.sleep(pace[1])
        else:
            writer.write(data)
        await writer.drain()
    except ConnectionError:
        pass
    got = b""
    try:
        while True:
            chunk = await asyncio.wait_for(reader.read(65536), timeout)
            if not chunk:
                return got, True
            got += chunk
    except asyncio.TimeoutError:
        return got, False
    except ConnectionError:
        return got, True


async def http_get(port, path, *headers, source=None):
    named = any(h.startswith("Host:") for h in headers)
    head = f"GET {path} HTTP/1.1\r\n" + ("" if named else f"Host: 127.0.0.1:{port}\r\n") + "Connection: close\r\n"
    got, _ = await raw_http(port, (head + "".join(h + "\r\n" for h in headers) + "\r\n").encode(),
                            source=source)
    status, _, rest = got.partition(b"\r\n")
    return status.decode(), rest.partition(b"\r\n\r\n")[2].decode()


def tls_pair(dir, name):
    """A self-signed certificate for localhost and its key, in DIR: (cert, key)."""
    key, cert = os.path.join(dir, name + ".key"), os.path.join(dir, name + ".crt")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost",
                    "-days", "1", "-keyout", key, "-out", cert], check=True, capture_output=True, timeout=60)
    return cert, key


def served_fingerprint(caller):
    return hashlib.sha256(caller.writer.get_extra_info("ssl_object").getpeercert(binary_form=True)).hexdigest()


def file_fingerprint(cert):
    import ssl
    return hashlib.sha256(ssl.PEM_cert_to_DER_cert(open(cert).read())).hexdigest()


async def run(cases, with_prepared=()):
    """Runs the CASES (name: coroutine taking its DIR) the command line
    names; the cases in WITH_PREPARED find a copy of the prepared DIR in
    theirs too. Answers the exit status."""
    global EXE, N, SANITIZED
    ap = argparse.ArgumentParser()
    ap.add_argument("board"), ap.add_argument("sim"), ap.add_argument("dbcheck")
    ap.add_argument("--quick", action="store_true")
    ap.add_argument("--only", default=",".join(cases))
    ap.add_argument("--keep", help="work in this new directory and leave it for a look")
    EXE = ap.parse_args()
    # AddressSanitizer holds freed memory back on purpose: memory is not
    # judged in such a build, nor is running out of descriptors.
    SANITIZED = b"__asan_init" in open(EXE.board, "rb").read()
    N = argparse.Namespace(signed_on=4 if EXE.quick else 256, kills=3 if EXE.quick else 25)
    failed = 0
    if EXE.keep:
        os.makedirs(EXE.keep)
    with tempfile.TemporaryDirectory(prefix="board-load-") as tmp:
        work = EXE.keep or tmp
        prepared = os.path.join(work, "prepared")
        os.mkdir(prepared)
        make_accounts(prepared, users(max(N.signed_on, 4)) + ["kim"], "DEMO")
        make_accounts(prepared, ["pat", "lee"])
        for name in EXE.only.split(","):
            dir = os.path.join(work, name)
            shutil.copytree(prepared, dir)
            if name in with_prepared:
                shutil.copytree(prepared, os.path.join(dir, "prepared"))
            start = time.monotonic()
            try:
                await asyncio.wait_for(cases[name](dir), 300)
                for b in BOARDS:  # a crash, or a sanitizer's report, after the case's checks
                    check(b.killed or b.stop() == 0, f"board exit status {b.proc.returncode}: {b.stderr()[-300:]}")
                print(f"ok   {name} ({time.monotonic() - start:.1f} s)")
            except (Fail, asyncio.TimeoutError, OSError) as e:
                failed += 1
                print(f"FAIL {name}: {e or 'timed out'}")
            finally:
                while BOARDS:
                    BOARDS.pop().stop()
    total = len(EXE.only.split(","))
    print(f"{total - failed} passed, {failed} failed")
    return 1 if failed else 0
