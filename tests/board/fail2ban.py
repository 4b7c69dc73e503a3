"""The fail2ban filter in examples/ read by fail2ban-regex over a real
board's trace: a wrong password or unknown user-id over telnet, SSH, the
web terminal and the console's sign-in, and the block they make, each name
the caller's address; a right log-on nothing, a guess the board forgives
no `block`, a member refused after a bump nothing, and a user-id that looks
like an address never puts its own words in place of the caller's.

usage: fail2ban.py BOARD   (exit 77 without fail2ban-regex)"""

import json
import os
import re
import shutil
import socket
import subprocess
import sys
import urllib.error
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from client import Board, account, run_cases, small_range  # noqa: E402
import wsclient  # noqa: E402

PROGRAM = sys.argv[1]
FILTER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples",
                      "fail2ban", "filter.d", "zorgaval-board.conf")
TRICK = 'x" rejected "10.9.8.7'  # an id typed to frame another address
EVENING = ["--clock", "2026-12-08 19:00:00", "--speed", "60"]


def matched(d, trace):
    """The addresses fail2ban-regex finds in TRACE, one a matched line."""
    log = os.path.join(d, "trace.log")
    with open(log, "w") as f:
        f.write("\n".join(trace) + "\n")
    r = subprocess.run(["fail2ban-regex", "--out", "ip", log, FILTER],
                       capture_output=True, timeout=60, text=True)
    assert r.returncode == 0, r.stderr
    return r.stdout.split()


def telnet_guess(board, userid, password):
    c = board.call()
    c.login(userid, password)
    c.expect("Wrong user-id or password.")
    c.close()


def web_guess(board, userid, password):
    """The web terminal's prompts over a WebSocket, a wrong password."""
    s = socket.create_connection(("127.0.0.1", board.web_port), timeout=10)
    s.sendall(wsclient.upgrade_request("127.0.0.1:%d" % board.web_port))
    frames, head = wsclient.Frames(), b""
    while b"\r\n\r\n" not in head:
        head += s.recv(4096)
    frames.feed(head.split(b"\r\n\r\n", 1)[1])
    for want, answer in ((b"User-ID: ", userid), (b"Password: ", password),
                         (b"Wrong user-id or password.", None)):
        while want not in bytes(frames.text):
            frames.feed(s.recv(4096))
        if answer:
            s.sendall(wsclient.frame(answer.encode() + b"\r\n"))
    s.close()


def console_signin(board, userid, password):
    """The console's sign-in; answers the HTTP status."""
    request = urllib.request.Request(
        "http://127.0.0.1:%d/console/api/signin" % board.web_port,
        data=json.dumps({"user": userid, "password": password}).encode(),
        headers={"Content-Type": "application/json"}, method="POST")
    try:
        with urllib.request.urlopen(request, timeout=10) as r:
            return r.status
    except urllib.error.HTTPError as e:
        return e.code


def every_transport(d):
    """Five guesses from four transports, then a right password that the
    sixth guess's block is forgiven for, then a wrong one that blocks."""
    account(PROGRAM, d, "alice", "a-pass")
    board = Board(PROGRAM, d, "--block-loopback", "--fail-limit", "6", "--ssh", "127.0.0.1:0",
                  "--web", "127.0.0.1:0", *EVENING)
    c = board.call()
    c.login("alice", "a-pass")  # a right one: never matched
    c.expect("Welcome")
    c.send("/quit")
    telnet_guess(board, "alice", "wrong")
    telnet_guess(board, "nobody", "wrong")
    telnet_guess(board, TRICK, "wrong")
    assert board.ssh("alice", "wrong").status() == 5  # sshpass: refused
    web_guess(board, "alice", "wrong")
    assert console_signin(board, "alice", "a-pass") == 403  # right, but no console key
    assert console_signin(board, "alice", "wrong") == 401
    # Blocked now, the address is refused at accept by every listener,
    # before a key exchange or a request is read: told so by telnet,
    # closed unanswered by the others.
    for port, asked, told in ((board.port, b"", b"Too many failed log-ons"),
                              (board.ssh_port, b"", b""),
                              (board.web_port, b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", b"")):
        with socket.create_connection(("127.0.0.1", port), 5) as raw:
            raw.settimeout(5)
            raw.sendall(asked)
            got = b""
            try:
                while chunk := raw.recv(4096):
                    got += chunk
            except ConnectionResetError:
                pass
            assert told in got and (told or not got), (port, got)
    status, trace, _ = board.stop()
    assert status == 0, status
    for kind in ("", "ssh ", "web "):
        assert any(re.search(' blocked "' + kind + r'127\.0\.0\.1:', line) for line in trace), \
            (kind, "\n".join(trace))
    found = matched(d, trace)
    # Six wrong guesses and the block the last one made; none for the
    # right password that reached the limit and was forgiven.
    assert found == ["127.0.0.1"] * 7, (found, "\n".join(trace))
    for where in (r" wrong \d+ ", r" unknown \d+ ", " wrong ssh ", " wrong console "):
        assert any(re.search(where, line) for line in trace), (where, "\n".join(trace))
    return "6 guesses over telnet, SSH, the web terminal and the console, 1 block"


def delayed_member(d):
    """A member bumped and refused on calling back five times leaves
    nothing for the jail: the board's throttle does not count him either."""
    options = small_range(d, "03")
    account(PROGRAM, d, "alice", "a-pass", "DEMO")
    account(PROGRAM, d, "bob", "b-pass")
    account(PROGRAM, d, "carol", "c-pass")
    board = Board(PROGRAM, d, "--options", options, "--channels", "4", "--block-loopback",
                  "--fail-limit", "3", *EVENING)
    alice = board.call()
    alice.login("alice", "a-pass")
    alice.expect("Welcome")
    others = [board.call() for _ in range(2)]  # kept: a dropped one hangs up
    for c, userid in zip(others, ("bob", "carol")):
        c.login(userid, userid[0] + "-pass")
        c.expect("Welcome")
    alice.expect("You have been disconnected to free a channel.", timeout=20)
    for _ in range(5):
        again = board.call()
        again.login("alice", "a-pass")
        again.expect("You were disconnected a short while ago to free a channel.")
        assert again.closed()
    status, trace, _ = board.stop()
    assert status == 0, status
    assert sum('"alice" rejected' in line for line in trace) == 5, "\n".join(trace)
    found = matched(d, trace)
    assert found == [], (found, "\n".join(trace))
    return "5 refusals of a delayed member, none matched"


def main():
    if shutil.which("fail2ban-regex") is None:
        print("skipped: fail2ban-regex is not installed (make packages)")
        sys.exit(77)
    run_cases([every_transport, delayed_member], [], "zorgaval-f2b.")


main()
