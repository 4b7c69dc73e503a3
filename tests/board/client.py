"""Callers and a board for the live board's tests: a raw TCP caller that
reads past telnet commands, and the board program on a free loopback port
in a directory of its own, stopped by the test or by its own time limit."""

import asyncio
import ctypes
import logging
import os
import re
import signal
import select
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import warnings

with warnings.catch_warnings():  # paramiko 2.12 warns of ciphers it no longer uses
    warnings.simplefilter("ignore")
    try:
        import paramiko
    except ImportError:  # Debian's python3-paramiko, beside another Python
        sys.path.append("/usr/lib/python3/dist-packages")
        try:
            import paramiko
        except ImportError:  # only KeptSsh needs it; `make packages` installs it
            paramiko = None
logging.getLogger("paramiko").addHandler(logging.NullHandler())  # its threads' noise
logging.getLogger("paramiko").propagate = False

IAC, SB, SE = 255, 250, 240


class TelnetText:
    """What the board sent with its telnet commands taken out, fed as it
    arrives: a command cut between two reads is still taken out whole."""

    def __init__(self):
        self.text, self.state = bytearray(), 0

    def feed(self, data):
        # States: 0 data, 1 after IAC, 2 option byte, 3 in SB, 4 IAC in SB.
        for b in data:
            s = self.state
            if s == 0:
                if b == IAC:
                    self.state = 1
                else:
                    self.text.append(b)
            elif s == 1:
                self.state = {IAC: 0, SB: 3}.get(b, 2 if 251 <= b <= 254 else 0)
                if b == IAC:
                    self.text.append(b)
            elif s == 2:
                self.state = 0
            elif s == 3:
                self.state = 4 if b == IAC else 3
            else:
                self.state = 0 if b == SE else 3
        return self

    def take(self):
        """The text decoded so far, handed over and forgotten here."""
        out, self.text = bytes(self.text), bytearray()
        return out


def strip_telnet(data):
    """The text of what the board sent: telnet commands taken out."""
    return bytes(TelnetText().feed(data).text)


class Caller:
    """A telnet caller that waits on its socket: the live tests' and the
    scripts'. AsyncCaller is the same caller on asyncio, for the load run."""

    def __init__(self, port, host="127.0.0.1"):
        self.sock = socket.create_connection((host, port), timeout=10)
        self.raw = b""
        self.screen = TelnetText()
        self.seen = 0  # how far expect() has read in the text

    def text(self):
        return bytes(self.screen.text)

    def _fill(self, deadline):
        self.sock.settimeout(max(0.01, deadline - time.monotonic()))
        try:
            data = self.sock.recv(65536)
        except socket.timeout:
            return True
        except ConnectionResetError:
            data = b""
        if not data:
            return False
        self.raw += data
        self.screen.feed(data)
        return True

    def expect(self, wanted, timeout=10):
        """Reads until `wanted` (bytes or text) appears after what was read
        before; answers the text up to its end. Fails with the transcript."""
        if isinstance(wanted, str):
            wanted = wanted.encode()
        deadline = time.monotonic() + timeout
        while True:
            text = self.text()
            at = text.find(wanted, self.seen)
            if at >= 0:
                got = text[self.seen:at + len(wanted)]
                self.seen = at + len(wanted)
                return got
            if time.monotonic() > deadline or not self._fill(deadline):
                raise AssertionError("waited for %r, the caller got %r" % (wanted, text[self.seen:]))

    def closed(self, timeout=10):
        """True once the board has closed the connection (all text read)."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if not self._fill(deadline):
                return True
        return False

    def send(self, line):
        if isinstance(line, str):
            line = line.encode()
        self.sock.sendall(line + b"\r\n")

    def login(self, userid, password):
        self.expect("User-ID: ")
        self.send(userid)
        self.expect("Password: ")
        self.send(password)

    def close(self):
        self.sock.close()


class Fail(AssertionError):
    """A check of a live run that did not hold."""


def check(ok, what):
    if not ok:
        raise Fail(what)


class AsyncCaller:
    """One telnet caller on asyncio: what it reads is kept with telnet
    commands taken out. Every caller connected is kept in `opened`, so a
    run can hang them all up before it stops its board."""

    opened = []

    def __init__(self):
        self.text, self.screen, self.eof = bytearray(), TelnetText(), False

    async def connect(self, port, source=None, rcvbuf=None):
        sock = socket.socket()
        if rcvbuf:
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
        if source:
            sock.bind((source, 0))
        sock.setblocking(False)
        await asyncio.get_running_loop().sock_connect(sock, ("127.0.0.1", port))
        self.reader, self.writer = await asyncio.open_connection(sock=sock, limit=1 << 20)
        AsyncCaller.opened.append(self)
        return self

    def _feed(self, data):
        self.text += self.screen.feed(data).take()

    async def read_some(self, timeout):
        data = await asyncio.wait_for(self.reader.read(65536), timeout)
        self.eof = not data
        if self.eof:
            self.writer.transport.abort()  # as a telnet client does when the board hangs up
        self._feed(data)
        return data

    async def expect(self, want, timeout=5.0):
        """Reads until WANT (bytes) shows; answers what came before it and drops both."""
        end = time.monotonic() + timeout
        while want not in self.text:
            check(not self.eof, f"connection closed while waiting for {want!r}; read {bytes(self.text[-300:])!r}")
            try:
                await self.read_some(max(0.01, end - time.monotonic()))
            except asyncio.TimeoutError:
                raise Fail(f"no {want!r} within {timeout} s; read {bytes(self.text[-300:])!r}")
        head, _, rest = bytes(self.text).partition(want)
        self.text = bytearray(rest)
        return head

    async def closed(self, timeout=5.0):
        """True when the board closes (or resets) the connection within TIMEOUT."""
        end = time.monotonic() + timeout
        try:
            while not self.eof and time.monotonic() < end:
                await self.read_some(end - time.monotonic())
        except asyncio.TimeoutError:
            pass
        except ConnectionError:  # reset: closed as surely
            self.eof = True
        return self.eof

    def discard(self):
        """From now on reads and drops everything, as a caller who only types."""
        async def drop():
            try:
                while not self.eof:
                    await self.read_some(None)
                    self.text.clear()
            except (ConnectionError, OSError):
                pass
        self.task = asyncio.create_task(drop())
        return self

    def send(self, data):
        self.writer.write(data)

    def reset(self):
        sock = self.writer.get_extra_info("socket")
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.writer.transport.abort()

    def close(self):
        self.writer.transport.abort() if hasattr(self, "writer") else None


class SshCaller(Caller):
    """The Debian OpenSSH client, its password given by sshpass, typing
    through a pipe into a pty the board is asked for."""

    def __init__(self, port, userid, password, *options):
        self.proc = subprocess.Popen(
            ["sshpass", "-p", password, "ssh", "-tt", "-p", str(port),
             "-o", "StrictHostKeyChecking=no", "-o", "UserKnownHostsFile=/dev/null",
             "-o", "LogLevel=ERROR", "-o", "ConnectTimeout=10", *options,
             userid + "@127.0.0.1"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
            preexec_fn=_die_with_parent)
        os.set_blocking(self.proc.stdout.fileno(), False)
        self.raw = b""
        self.seen = 0

    def text(self):
        return self.raw

    def _fill(self, deadline):
        ready, _, _ = select.select([self.proc.stdout], [], [],
                                    max(0.01, deadline - time.monotonic()))
        if not ready:
            return True
        data = self.proc.stdout.read(65536)
        if not data:
            return False
        self.raw += data
        return True

    def send(self, line):
        if isinstance(line, str):
            line = line.encode()
        self.proc.stdin.write(line + b"\r")
        self.proc.stdin.flush()

    def status(self, timeout=10):
        """The client's exit status (sshpass says 5 for a refused password)."""
        return self.proc.wait(timeout=timeout)

    def transport_open(self):
        return self.proc.poll() is None

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


class KeptSsh(Caller):
    """An SSH caller through paramiko whose TCP connection is the test's own:
    it stays open whatever the board does with the call, until close().
    With SHELL false it logs on, opens its session channel and asks for
    nothing more."""

    def __init__(self, port, userid=None, password=None, shell=True, kex=None,
                 source="127.0.0.1"):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=10,
                                             source_address=(source, 0))
        self.transport = paramiko.Transport(self.sock)
        if kex:
            self.transport.get_security_options().kex = kex
        self.transport.start_client(timeout=10)
        self.chan = None
        self.raw = b""
        self.seen = 0
        if userid is not None:
            self.transport.auth_password(userid, password)
            self.chan = self.transport.open_session(timeout=10)
            if shell:
                self.chan.get_pty()
                self.chan.invoke_shell()

    def text(self):
        return self.raw

    def _fill(self, deadline):
        self.chan.settimeout(max(0.01, deadline - time.monotonic()))
        try:
            data = self.chan.recv(65536)
        except socket.timeout:
            return True
        if not data:
            return False
        self.raw += data
        return True

    def send(self, line):
        if isinstance(line, str):
            line = line.encode()
        self.chan.sendall(line + b"\r")

    def transport_open(self):
        return self.transport.is_active()

    def close(self):
        self.transport.close()
        self.sock.close()


def _die_with_parent():
    """In the child: SIGKILL when the test process ends, however it ends."""
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


class Board:
    """The board program in DIR, on a free loopback port."""

    running = []  # every board started, so a failed test leaves none behind

    def __init__(self, program, directory, *flags):
        self.program = program
        self.dir = directory
        self.proc = subprocess.Popen(
            [program, "--dir", directory, "--listen", "127.0.0.1:0", *flags],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, preexec_fn=_die_with_parent)
        # Start-up warnings, if any, come before the listening lines.
        self.warnings = []
        wanted = {"": r"zorgaval-board: listening on 127\.0\.0\.1:(\d+)"}
        if "--ssh" in flags:
            wanted["ssh"] = r"ssh listening on 127\.0\.0\.1:(\d+)"
        if "--web" in flags:
            wanted["web"] = r"web listening on 127\.0\.0\.1:(\d+)"
        ports = {}
        while len(ports) < len(wanted):
            line = self.proc.stderr.readline().decode()
            if not line:
                self.proc.kill()
                raise AssertionError("the board did not start: %r %r" % (self.warnings, ports))
            for name, pattern in wanted.items():
                m = re.search(pattern, line)
                if m and name not in ports:
                    ports[name] = int(m.group(1))
                    break
            else:
                self.warnings.append(line)
        self.port, self.ssh_port, self.web_port = ports[""], ports.get("ssh"), ports.get("web")
        # The trace is read as it comes: a full pipe would stall the board.
        self.trace = []
        self.reader = threading.Thread(target=self._read_trace, daemon=True)
        self.reader.start()
        Board.running.append(self)

    def _read_trace(self):
        for line in self.proc.stdout:
            self.trace.append(line.decode(errors="replace").rstrip("\n"))

    @staticmethod
    def kill_all():
        for b in Board.running:
            if b.proc.poll() is None:
                b.proc.kill()
                b.proc.wait()
        Board.running.clear()

    def call(self):
        return Caller(self.port)

    def kept(self, *args, **kwargs):
        return KeptSsh(self.ssh_port, *args, **kwargs)

    def alive(self):
        """A new telnet caller is answered: the board has come through."""
        c = self.call()
        c.expect("User-ID: ")
        c.close()

    def ssh(self, userid, password, *options):
        return SshCaller(self.ssh_port, userid, password, *options)

    def fingerprint(self):
        """The host key's fingerprint from the start-up lines."""
        for line in self.warnings:
            m = re.search(r"ssh host key (SHA256:\S+)", line)
            if m:
                return m.group(1)
        return None

    def stop(self, timeout=10):
        """SIGTERM; answers (exit status, trace lines, standard error)."""
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            raise AssertionError("the board did not stop within %d s of SIGTERM" % timeout)
        err = self.proc.stderr.read()
        self.reader.join(timeout)
        return self.proc.returncode, self.trace, err.decode(errors="replace")


def small_range(directory, last="03"):
    """The sample options with a range of channels 00 to LAST, one kept
    free: with 03 three callers make it busy. The sample's window (18:00 to
    02:00) and delay (1800 s, half a minute at --speed 60) hold."""
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "..", "..", "examples", "zorgaval.mcv")) as f:
        text = f.read()
    text = text.replace("\n15 = 2 ", "\n15 = 1 ").replace("\n18 = 1F", "\n18 = " + last)
    path = os.path.join(directory, "small.mcv")
    with open(path, "w") as f:
        f.write(text)
    return path


def account(program, directory, userid, password, keys=None):
    cmd = [program, "account", "add", userid, "--dir", directory]
    if keys:
        cmd += ["--keys", keys]
    subprocess.run(cmd, input=(password + "\n").encode(), check=True, timeout=30,
                   stdout=subprocess.DEVNULL)


def ctl(program, directory, *words):
    r = subprocess.run([program, "ctl", *words, "--dir", directory], capture_output=True,
                       timeout=30)
    return r.returncode, r.stdout.decode(errors="replace"), r.stderr.decode(errors="replace")


def run_cases(cases, wanted, prefix):
    """Each case named in WANTED (all when empty) on a fresh directory,
    each reporting ok or FAIL, the next run whatever happened, every board
    killed between; exits 1 if any failed."""
    failed = 0
    for case in cases:
        if wanted and case.__name__[5:] not in wanted:
            continue
        started = time.monotonic()
        with tempfile.TemporaryDirectory(prefix=prefix) as d:
            try:
                said = case(d)  # what a case may add to its line
                print("ok   %s%s (%.1f s)" % (case.__name__, ": " + said if said else "",
                                           time.monotonic() - started))
            except Exception as e:  # each case reports, the next runs
                failed += 1
                print("FAIL %s: %s" % (case.__name__, e))
            finally:
                Board.kill_all()
    sys.exit(1 if failed else 0)
