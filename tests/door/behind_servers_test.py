"""The servers behind the front door, each tried with a direct client: an
RLogin caller from a privileged port (start-up, the server's NUL, the
window size on its urgent request), a telnet caller offering TTYPE, NAWS
and NEW-ENVIRON USER, and two tinymux callers who meet and part. Once a
real server is stopped, nothing it started runs and its user is gone.

usage: behind_servers_test.py   (exit 77 where not root or a package is missing)"""

import os
import pwd
import select
import socket
import struct
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from behind_servers import (PasswordFirstRlogin, Rlogind, Skip, Telnetd, TinyMux,  # noqa: E402
                            process_tree, user_processes)
from client import Caller  # noqa: E402  (behind_servers put tests/board on the path)

IAC, DONT, DO, WONT, WILL, SB, SE = 255, 254, 253, 252, 251, 250, 240
ECHO, SGA, TTYPE, NAWS, NEW_ENVIRON = 1, 3, 24, 31, 39


def privileged_connect(port, wait=70):
    """A socket from the highest free source port in 512-1023, connected
    to PORT. Ports another caller left in TIME-WAIT come free within a
    minute, so a full range is tried again until WAIT runs out."""
    deadline = time.monotonic() + wait
    while True:
        for source in range(1023, 511, -1):
            s = socket.socket()
            s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            try:
                s.bind(("127.0.0.1", source))
                s.connect(("127.0.0.1", port))
                return s
            except OSError as e:
                s.close()
                if e.errno not in (98, 99):  # EADDRINUSE, EADDRNOTAVAIL
                    raise
        if time.monotonic() > deadline:
            raise AssertionError("no source port in 512-1023 came free")
        time.sleep(1)


class RloginCaller(Caller):
    """An RLogin client: the start-up sent; an urgent byte with its 0x80
    bit answered with the window size. It closes with a reset so that its
    privileged port is not held in TIME-WAIT."""

    def __init__(self, port, first, second, terminal="xterm/38400", size=(24, 80)):
        self.sock = privileged_connect(port)
        self.raw, self.seen, self.size, self.asked = b"", 0, size, 0
        self.sock.sendall(b"\0%s\0%s\0%s\0" % (first.encode(), second.encode(), terminal.encode()))

    def text(self):
        return self.raw

    def _fill(self, deadline):
        readable, _, urgent = select.select([self.sock], [], [self.sock],
                                            max(0.01, deadline - time.monotonic()))
        if urgent:
            try:
                byte = self.sock.recv(1, socket.MSG_OOB)
            except OSError:  # its mark already read past
                byte = b""
            if byte and byte[0] & 0x80:
                self.asked += 1
                self.window(*self.size)
        if readable:
            try:
                data = self.sock.recv(65536)
            except ConnectionResetError:
                data = b""
            if not data:
                return False
            self.raw += data
        return True

    def window(self, rows, cols):
        self.sock.sendall(b"\xff\xffss" + struct.pack(">4H", rows, cols, 0, 0))

    def close(self):
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.sock.close()


class TelnetCaller(Caller):
    """A telnet client that answers as a terminal: TTYPE, NAWS and
    NEW-ENVIRON (offering USER) it will do, the server's ECHO and SGA it
    takes, anything else it refuses."""

    def __init__(self, port, terminal, size, user):
        super().__init__(port)
        self.terminal, self.size, self.user = terminal, size, user
        self.parsed, self.answered = 0, set()

    def _fill(self, deadline):
        alive = super()._fill(deadline)
        out, raw, i = b"", self.raw, self.parsed
        while (i := raw.find(b"\xff", i)) >= 0 and i + 1 < len(raw):
            command = raw[i + 1]
            if command in (WILL, WONT, DO, DONT):
                if i + 2 >= len(raw):
                    break
                out += self._answer(command, raw[i + 2])
                i += 3
            elif command == SB:
                end = raw.find(b"\xff\xf0", i)
                if end < 0:
                    break
                out += self._subnegotiation(raw[i + 2:end])
                i = end + 2
            else:
                i += 2
        self.parsed = len(raw) if i < 0 else i
        if out:
            self.sock.sendall(out)
        return alive

    def _answer(self, command, option):
        if (command, option) in self.answered or command in (WONT, DONT):
            return b""
        self.answered.add((command, option))
        if command == DO and option in (TTYPE, NAWS, NEW_ENVIRON):
            return bytes([IAC, WILL, option]) + (self._naws(*self.size) if option == NAWS else b"")
        if command == DO:
            return bytes([IAC, WONT, option])
        return bytes([IAC, DO if option in (ECHO, SGA) else DONT, option])

    def _subnegotiation(self, body):
        if body[:2] == bytes([TTYPE, 1]):
            return bytes([IAC, SB, TTYPE, 0]) + self.terminal.encode() + bytes([IAC, SE])
        if body[:2] == bytes([NEW_ENVIRON, 1]):
            return bytes([IAC, SB, NEW_ENVIRON, 0, 0]) + b"USER\x01" + self.user.encode() + bytes([IAC, SE])
        return b""

    @staticmethod
    def _naws(rows, cols):
        return bytes([IAC, SB, NAWS]) + struct.pack(">HH", cols, rows) + bytes([IAC, SE])

    def resize(self, rows, cols):
        self.sock.sendall(self._naws(rows, cols))


def spawned(server):
    return process_tree([p.pid for p in server.procs])


def nothing_left(pids, uid=None):
    left = process_tree(pids) | (user_processes(uid) if uid is not None else set())
    assert not left, "still running after stop: %s" % sorted(left)


def case_rlogind():
    with Rlogind(trusted="zgcaller") as server:
        user = server.user
        uid = pwd.getpwnam(user).pw_uid
        c = RloginCaller(server.port, "zgcaller", user, "vt100/9600")
        c.expect(b"\0")
        c.expect("user=%s logname=%s term=vt100 args=\r\n" % (user, user))
        c.expect("size 24 80")
        assert c.asked, "rlogind logged the user on without asking the window size"
        c.send("hello")
        c.expect("echo: hello")
        c.window(40, 100)
        c.expect("size 40 100")
        c.send("again")  # the resize did not end the shell's read loop
        c.expect("echo: again")
        stranger = RloginCaller(server.port, "stranger", user)
        stranger.expect(b"\0")
        stranger.expect("Password: ")
        pids = spawned(server)
        stranger.close()
    c.close()
    try:
        pwd.getpwnam(user)
        raise AssertionError("user %s outlived the server" % user)
    except KeyError:
        pass
    nothing_left(pids, uid)


def case_telnetd():
    with Telnetd() as server:
        c = TelnetCaller(server.port, "ANSI", (24, 80), "caller7")
        c.expect("user=caller7 logname= term=ansi args=caller7\r")
        c.expect("size 24 80")
        c.send("hello")
        c.expect("echo: hello")
        c.resize(40, 100)
        c.expect("size 40 100")
        pids = spawned(server)
    c.close()
    nothing_left(pids)


def case_tinymux():
    with TinyMux({"alice": "sesame1", "bob": "sesame2"}) as mux:
        a, b = mux.connect(), mux.connect()
        a.send("connect alice sesame1")
        a.expect("Limbo")
        b.send("connect bob sesame2")
        b.expect("Limbo")
        a.expect("bob has connected.")
        a.send("say hello")
        b.expect('alice says, "hello"')
        b.send('"hi')
        a.expect('bob says, "hi"')
        a.close()  # one caller leaves; the other stays connected
        b.expect("alice has disconnected.")
        b.send("say still here")
        b.expect('You say, "still here"')
        pids = spawned(mux)
    b.close()
    nothing_left(pids)


def case_password_first():
    with PasswordFirstRlogin() as server:
        c = RloginCaller(server.port, "secret", "caller7", "ansi/9600", (25, 80))
        c.expect(b"\0")
        said = c.expect("\r\n").decode()
        port = int(said.rsplit("port=", 1)[1])
        assert said.startswith("password=secret user-id=caller7 terminal=ansi/9600 ") and 512 <= port < 1024, said
        c.expect("window 25 80 0 0")
        c.send("hello")
        c.expect("echo: hello")
        c.window(30, 90)
        c.expect("window 30 90 0 0")
        assert server.startups == [("secret", "caller7", "ansi/9600")], server.startups
    c.close()


CASES = [case_rlogind, case_telnetd, case_tinymux, case_password_first]


def main():
    if os.geteuid() != 0:
        print("skipped: rlogind and telnetd log users on only for root; this is uid %d" % os.geteuid())
        sys.exit(77)
    passed = failed = skipped = 0
    for case in CASES:
        started = time.monotonic()
        try:
            case()
            passed += 1
            print("ok   %s (%.1f s)" % (case.__name__, time.monotonic() - started))
        except Skip as e:
            skipped += 1
            print("skip %s: %s" % (case.__name__, e))
        except Exception as e:  # each case reports, the next runs
            failed += 1
            print("FAIL %s: %s" % (case.__name__, e))
    print("%d passed, %d failed, %d skipped" % (passed, failed, skipped))
    sys.exit(1 if failed else 77 if skipped else 0)


main()
