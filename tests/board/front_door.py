"""The front door (--behind): callers signed on to the board and carried to
a board behind it, over RLogin and telnet, against a scripted RLogin server
and the real servers of Debian's packages (in.rlogind, inetutils-telnetd,
tinymux), each started and stopped by its case. Run as root: in.rlogind
needs a user of the machine and a reserved source port.

usage: front_door.py BOARD [CASE...]"""

import os
import re
import socket
import sys
import time
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from behind_servers import ScriptedRlogin, ThrowawayUser, TinyMux, rlogind, telnetd  # noqa: E402
from client import Board, Caller, account, ctl, small_range, run_cases  # noqa: E402
import wsclient  # noqa: E402

PROGRAM = sys.argv[1]
# AddressSanitizer holds freed memory back on purpose: memory is not judged
# in such a build, as in the load run.
SANITIZED = b"__asan_init" in open(PROGRAM, "rb").read()
if os.geteuid() != 0:  # in.rlogind and telnetd log a user on, and RLogin wants a port below 1024
    print("skipped: the servers behind the front door need root; this is uid %d" % os.geteuid())
    sys.exit(77)
EVENING = ["--clock", "2026-12-08 19:00:00", "--speed", "60"]
NAWS_100x32 = b"\xff\xfa\x1f\x00\x64\x00\x20\xff\xf0"  # the caller's telnet client resized
# The front door's own offers to a telnet caller: WILL ECHO, WILL SGA, DO NAWS.
OWN_OFFERS = (b"\xff\xfb\x01", b"\xff\xfb\x03", b"\xff\xfd\x1f")


def trace_has(lines, *words):
    assert any(all(w in line for w in words) for line in lines), \
        "no trace line with %r in:\n%s" % (words, "\n".join(lines))


class WebCaller(Caller):
    """The web terminal's caller: the board's bytes in binary frames, the
    window's size in a text message, as the page sends them."""

    def __init__(self, port):
        super().__init__(port)
        self.sock.sendall(wsclient.upgrade_request("127.0.0.1:%d" % port))
        self.frames, head = wsclient.Frames(), b""
        while b"\r\n\r\n" not in head:
            head += self.sock.recv(4096)
        self.frames.feed(head.split(b"\r\n\r\n", 1)[1])

    def text(self):
        return bytes(self.frames.text)

    def _fill(self, deadline):
        before = len(self.raw)
        alive = super()._fill(deadline)
        self.frames.feed(self.raw[before:])
        return alive and not self.frames.closed

    def send(self, line):
        self.sock.sendall(wsclient.frame(line.encode() + b"\r\n"))

    def resize(self, cols, rows):
        self.sock.sendall(wsclient.frame(b'{"cols":%d,"rows":%d}' % (cols, rows), opcode=1))


def rss(board):
    status = open("/proc/%d/status" % board.proc.pid).read()
    return int(re.search(r"VmRSS:\s+(\d+)", status)[1])


def carried(board, userid, password):
    c = board.call()
    c.login(userid, password)
    c.expect("Connecting you to the board")
    return c


# The sysop's choice of RLogin's two user-name fields, and what the board
# behind reads in them: the password-first order of some boards gets a
# fixed text, never the caller's password.
FIELD_ROWS = [
    (["--behind-user-fields", "userid,userid", "--behind-terminal", "vt100"],
     b"fields alice|alice|vt100/38400"),
    (["--behind-user-fields", "text:guest,userid"], b"fields guest|alice|xterm/38400"),
    (["--behind-user-fields", "userid,text:bbs"], b"fields alice|bbs|xterm/38400"),
]


def case_rlogin_scripted(d):
    """The fields as chosen, a reserved source port, the window asked by
    the urgent byte and told again on a change, eight-bit bytes both ways,
    and the board behind's hang-up ending the call through the host."""
    account(PROGRAM, d, "alice", "a-pass")
    server = ScriptedRlogin()
    try:
        for flags, fields in FIELD_ROWS:
            board = Board(PROGRAM, d, "--web", "127.0.0.1:0",
                          "--behind", "rlogin:127.0.0.1:%d" % server.port, *flags)
            c = carried(board, "alice", "a-pass")
            c.expect(fields)
            c.expect("window 24x80")  # the caller's client never said: 80 by 24
            c.sock.sendall(NAWS_100x32)
            c.expect("window 32x100")
            c.sock.sendall(b"\x80\xc3\xa9\xfe\x1b[1m\r")
            c.expect(b"\x80\xc3\xa9\xfe\x1b[1m\r")
            c.sock.sendall(b"open\r")  # the sysop speaks while a sequence is open
            c.expect(b"\x1b[3")
            ctl(PROGRAM, d, "say", "hello")
            c.expect(b"\x82")  # and again inside the character
            ctl(PROGRAM, d, "say", "again")
            c.expect("done")
            shown = c.text()  # the words wherever they fell, the sequence and character whole
            for whole in (b"\x1b[31m", b"\xe2\x82\xac", b"The sysop: hello\r\n",
                          b"The sysop: again\r\n"):
                assert whole in shown, (whole, shown[-200:])
            _, who, _ = ctl(PROGRAM, d, "who")
            assert "telnet carried to rlogin:127.0.0.1:%d since 20" % server.port in who, who
            metrics = urllib.request.urlopen(
                "http://127.0.0.1:%d/metrics" % board.web_port, timeout=10).read().decode()
            assert "\nzorgaval_carried_calls 1\n" in metrics, metrics
            typed = re.search(r"\nzorgaval_carried_bytes_to_behind_total (\d+)", metrics)
            assert int(typed[1]) >= 9, metrics  # the bytes above; the window's are the door's
            c.sock.sendall(b"bye\r")
            c.expect("leaving")
            assert c.closed(), "the call outlived the board behind"
            status, trace, _ = board.stop()
            assert status == 0, status
            trace_has(trace, "carry 0 \"rlogin:127.0.0.1:%d\"" % server.port)
            trace_has(trace, "hangup 0 \"alice\"")
        assert all(512 <= p <= 1023 for p in server.sources), server.sources
    finally:
        server.stop()


def case_rlogind(d):
    """Debian's in.rlogind logs the throwaway user on, trusting the front
    door's user-id from loopback: its shell sees the user, the terminal and
    the window, and the new size after the caller resizes."""
    account(PROGRAM, d, "alice", "a-pass")
    user = ThrowawayUser(d, "alice")
    port, stop, _ = rlogind()
    try:
        board = Board(PROGRAM, d, "--behind", "rlogin:127.0.0.1:%d" % port,
                      "--behind-user-fields", "userid,text:" + user.name)
        c = carried(board, "alice", "a-pass")
        c.expect("user=%s term=xterm size=24 80" % user.name)
        c.sock.sendall(NAWS_100x32)
        time.sleep(0.3)  # the shell reads the size after the pty has it
        c.sock.sendall(b"size\r")
        c.expect("size=32 100")
        c.sock.sendall(b"bye\r")
        assert c.closed(), "the call outlived the shell behind"
        _, trace, _ = board.stop()
        trace_has(trace, "hangup 0 \"alice\"")
    finally:
        stop()
        user.stop()


def case_telnetd(d):
    """Debian's telnetd: the terminal type and the window told, the new size
    after a resize, USER offered (its option log shows it), and not one of
    its telnet commands reaching the caller."""
    account(PROGRAM, d, "alice", "a-pass")
    port, stop, procs = telnetd(d)
    try:
        board = Board(PROGRAM, d, "--behind", "telnet:127.0.0.1:%d" % port)
        c = carried(board, "alice", "a-pass")
        c.expect("term=xterm size=24 80")
        c.sock.sendall(NAWS_100x32)
        time.sleep(0.3)
        c.sock.sendall(b"size\r\n")
        c.expect("size=32 100")
        c.sock.sendall(b"bye\r\n")
        assert c.closed(), "the call outlived the shell behind"
        rest = c.raw
        for offer in OWN_OFFERS:
            rest = rest.replace(offer, b"")
        assert b"\xff" not in rest, "a telnet command of the board behind reached the caller"
        board.stop()
        logs = ["/run/telnet/debug.%d" % p.pid for p in procs]
        said = "".join(open(f).read() for f in logs if os.path.exists(f))
        assert 'NEW-ENVIRON IS "USER" VALUE "alice"' in said, said
    finally:
        stop()
        for p in procs:
            if os.path.exists("/run/telnet/debug.%d" % p.pid):
                os.remove("/run/telnet/debug.%d" % p.pid)


def case_tinymux(d):
    """Three callers carried into one tinymux game fill the watched range:
    alice (telnet, DEMO) is warned and bumped inside the game, bob the
    watcher (the web terminal) is told there, carol (SSH) stays and talks;
    the game sees each one's window resized; alice calling back is refused
    before the board behind."""
    options = small_range(d)
    account(PROGRAM, d, "alice", "a-pass", "DEMO")
    account(PROGRAM, d, "bob", "b-pass", "WATCHER")
    account(PROGRAM, d, "carol", "c-pass")
    mux = TinyMux(d)
    try:
        board = Board(PROGRAM, d, "--options", options, "--channels", "4", "--ssh", "127.0.0.1:0",
                      "--web", "127.0.0.1:0", "--behind", "telnet:127.0.0.1:%d" % mux.port,
                      *EVENING)
        alice = carried(board, "alice", "a-pass")
        bob = WebCaller(board.web_port)
        bob.login("bob", "b-pass")
        carol = board.kept("carol", "c-pass")
        for name, c in (("alice", alice), ("bob", bob), ("carol", carol)):
            c.expect("create <name> <password>")
            c.send("create %s pw%s" % (name, name))
            c.expect("Limbo")
        alice.expect("You will be disconnected in 60 seconds.")
        alice.expect("You have been disconnected to free a channel.")
        assert alice.closed(), "the bumped caller's connection stays open"
        bob.expect("Zor Gaval bumped alice to free a channel.")
        bob.resize(90, 30)
        time.sleep(0.3)
        bob.send("think [width(me)]")
        bob.expect("90")
        carol.chan.resize_pty(width=100, height=40)
        time.sleep(0.3)
        carol.send("think [width(me)]")
        carol.expect("100")
        carol.send("say still here")
        carol.expect('You say, "still here"')
        again = board.call()
        again.login("alice", "a-pass")
        again.expect("You were disconnected a short while ago")
        assert again.closed()
        status, trace, _ = board.stop()
        assert status == 0, status
        assert sum(" carry " in line for line in trace) == 3, "\n".join(trace)
        trace_has(trace, "logon 0 \"alice\" rejected")
    finally:
        mux.stop()


def case_unreachable(d):
    """A board behind that refuses, and one that never answers: each
    caller is told in one line, the channel freed and the failure traced;
    the sysop reads one line for the outage, not one per caller."""
    account(PROGRAM, d, "alice", "a-pass")
    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    closed_port = probe.getsockname()[1]  # bound, never listening: refused
    silent = ScriptedRlogin(silent=True)
    try:
        board = Board(PROGRAM, d, "--behind", "rlogin:127.0.0.1:%d" % closed_port)
        for _ in range(2):
            c = carried(board, "alice", "a-pass")
            c.expect("The board cannot be reached now.")
            assert c.closed()
        _, trace, err = board.stop()
        trace_has(trace, "nobehind 0 \"Connection refused\"")
        assert sum(" nobehind 0 " in line for line in trace) == 2, trace
        assert sum(" hangup 0 " in line for line in trace) == 2, trace
        assert err.count("cannot be reached") == 1, err
        trace_has(trace, "warning \"the board behind (rlogin:127.0.0.1:%d)" % closed_port)
        board = Board(PROGRAM, d, "--behind", "rlogin:127.0.0.1:%d" % silent.port)
        started = time.monotonic()
        c = carried(board, "alice", "a-pass")
        c.expect("The board cannot be reached now.", timeout=15)
        assert 4 < time.monotonic() - started < 10
        _, trace, _ = board.stop()
        trace_has(trace, "nobehind 0 \"no answer within 5 seconds\"")
    finally:
        probe.close()
        silent.stop()


def case_bounded(d):
    """A caller who stops reading while the board behind sends 8 MB: the
    front door stops reading it (no overflow, memory flat), and every byte
    arrives once the caller reads again. A board behind that stops reading:
    the front door stops taking the caller's keys, its memory flat."""
    account(PROGRAM, d, "alice", "a-pass")
    flood = 8 * 1024 * 1024
    server = ScriptedRlogin(flood=flood)
    try:
        board = Board(PROGRAM, d, "--behind", "rlogin:127.0.0.1:%d" % server.port)
        before = rss(board)
        c = carried(board, "alice", "a-pass")
        time.sleep(2)  # not reading
        held = rss(board) - before
        c.expect(b"z" * 1000)
        deadline = time.monotonic() + 30
        while c.raw.count(b"z") < flood and time.monotonic() < deadline:
            c._fill(deadline)
        assert c.raw.count(b"z") == flood, c.raw.count(b"z")
        _, trace, _ = board.stop()
        assert not any(" overflow " in line for line in trace), trace
        assert held < 2048 or SANITIZED, "the board grew by %d kB while the caller did not read" % held
    finally:
        server.stop()
    stalled = ScriptedRlogin(stall=True)
    try:
        board = Board(PROGRAM, d, "--behind", "rlogin:127.0.0.1:%d" % stalled.port)
        c = carried(board, "alice", "a-pass")
        c.expect("fields")
        before = rss(board)
        c.sock.settimeout(3)
        sent, keys = 0, b"k" * 65536
        try:
            while sent < 64 * 1024 * 1024:
                sent += c.sock.send(keys)
        except socket.timeout:
            pass
        assert sent < 64 * 1024 * 1024, "the front door took 64 MB the board behind never read"
        assert rss(board) - before < 4096 or SANITIZED, "the board grew by %d kB" % (rss(board) - before)
        _, trace, _ = board.stop()
        assert not any(" overflow " in line for line in trace), trace
    finally:
        stalled.stop()


CASES = [case_rlogin_scripted, case_rlogind, case_telnetd, case_tinymux, case_unreachable,
         case_bounded]


run_cases(CASES, sys.argv[2:], "zorgaval-door-test.")
