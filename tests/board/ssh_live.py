"""SSH callers on the live board, through the Debian OpenSSH client over
loopback: one table of cases, each on a fresh directory, bounded in time.

usage: ssh_live.py BOARD [CASE...]"""

import os
import socket
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from client import Board, account, ctl, paramiko, small_range, run_cases  # noqa: E402

PROGRAM = sys.argv[1]
SANITIZED = b"__asan_init" in open(PROGRAM, "rb").read()
EVENING = ["--clock", "2026-12-08 19:00:00", "--speed", "60"]
SSH = ["--ssh", "127.0.0.1:0"]
KEY = "ssh_host_ed25519_key"


def trace_has(lines, *words):
    assert any(all(w in line for w in words) for line in lines), \
        "no trace line with %r in:\n%s" % (words, "\n".join(lines))


def case_bump(d):
    """Three callers fill the range: the DEMO holder, on over SSH and keeping
    his connection open, is warned and bumped and told when he may return,
    the telnet watcher told and still on; calling back over SSH he reads the
    refusal before the channel closes."""
    options = small_range(d, "03")
    account(PROGRAM, d, "alice", "a-pass", "DEMO")
    account(PROGRAM, d, "bob", "b-pass", "WATCHER")
    account(PROGRAM, d, "carol", "c-pass")
    board = Board(PROGRAM, d, "--options", options, "--channels", "4", *SSH, *EVENING)
    alice = board.kept("alice", "a-pass")
    alice.expect("Welcome, alice")
    code, out, _ = ctl(PROGRAM, d, "who")
    assert code == 0 and '"alice"' in out and " ssh\n" in out, out
    bob = board.call()
    bob.login("bob", "b-pass")
    bob.expect("Welcome")
    carol = board.call()
    carol.login("carol", "c-pass")
    carol.expect("Welcome")
    alice.expect("You will be disconnected in 60 seconds.")
    alice.expect("You have been disconnected to free a channel.")
    alice.expect("You may log on again after 12/08/26")
    alice.expect("It is now 12/08/26")
    assert alice.closed(), "the bumped SSH caller's connection stays open"
    bob.expect("Zor Gaval bumped alice to free a channel.")
    again = board.ssh("alice", "a-pass", "-o", "PreferredAuthentications=password")
    again.expect("You were disconnected a short while ago to free a channel.")
    again.expect("It is now ")
    assert again.closed()
    assert not bob.closed(1), "the telnet watcher was dropped with the bumped SSH caller"
    status, trace, _ = board.stop()
    assert status == 0, status
    trace_has(trace, "call 0 \"ssh 127.0.0.1:")
    trace_has(trace, "logon 0 \"alice\" accepted")
    trace_has(trace, "logon 0 \"alice\" rejected")


def start_fails(d, *words):
    r = subprocess.run([PROGRAM, "--dir", d, "--listen", "127.0.0.1:0", *SSH],
                       capture_output=True, timeout=30)
    err = r.stderr.decode(errors="replace")
    assert r.returncode == 1 and all(w in err for w in words), (r.returncode, err)


def case_host_key(d):
    """Made at the first start with mode 0600 and kept: the fingerprint is
    the same after a restart; a key open to others or damaged stops the
    start, naming the file, and is left as it was."""
    board = Board(PROGRAM, d, *SSH)
    first = board.fingerprint()
    board.stop()
    path = os.path.join(d, KEY)
    assert first and first.startswith("SHA256:"), board.warnings
    assert os.stat(path).st_mode & 0o777 == 0o600, oct(os.stat(path).st_mode)
    board = Board(PROGRAM, d, *SSH)
    assert board.fingerprint() == first, (board.fingerprint(), first)
    board.stop()
    with open(path, "rb") as f:
        kept = f.read()
    os.chmod(path, 0o644)
    start_fails(d, KEY, "mode 0644")
    os.chmod(path, 0o600)
    with open(path, "wb") as f:
        f.write(kept[:60])
    start_fails(d, KEY, "damaged")
    with open(path, "rb") as f:
        assert f.read() == kept[:60], "the damaged key was replaced"


def case_wrong_password(d):
    """A wrong password is refused by either method and counts against the
    address as on telnet: two block it, and then a telnet caller is refused,
    and an SSH connection is closed before the board says a word of SSH.
    An unknown user-id is refused the same."""
    account(PROGRAM, d, "alice", "a-pass")
    board = Board(PROGRAM, d, *SSH, "--fail-limit", "3", "--block-loopback")
    for options in ([], ["-o", "PreferredAuthentications=password"]):
        c = board.ssh("alice", "wrong", *options)
        assert c.status() == 5, (c.status(), c.text())  # sshpass: the password was refused
    unknown = board.ssh("nobody", "a-pass")
    assert unknown.status() == 5, unknown.text()
    late = board.call()
    late.expect("Too many failed log-ons from your address.")
    raw = socket.create_connection(("127.0.0.1", board.ssh_port), timeout=10)
    assert raw.recv(256) == b"", "a blocked address was answered over SSH"
    raw.close()
    code, out, _ = ctl(PROGRAM, d, "blocked")
    assert code == 0 and "127.0.0.1" in out, out
    status, trace, _ = board.stop()
    trace_has(trace, "block \"127.0.0.1\"")
    trace_has(trace, "blocked \"ssh 127.0.0.1:")
    # The same lines as telnet's guesses, the caller having no channel yet.
    assert sum('wrong ssh "alice" "127.0.0.1"' in line for line in trace) == 2, trace
    trace_has(trace, 'unknown ssh "nobody" "127.0.0.1"')


def case_right_password_forgiven(d):
    """A right password takes back its guess: with a limit of two, a wrong
    one and a right one do not block."""
    account(PROGRAM, d, "alice", "a-pass")
    board = Board(PROGRAM, d, *SSH, "--fail-limit", "2", "--block-loopback")
    for password in ("wrong", "a-pass"):
        c = board.ssh("alice", password)
        if password == "a-pass":
            c.expect("Welcome, alice")
            c.send("/quit")
            c.expect("Goodbye.")
            assert c.closed()
        else:
            assert c.status() == 5
    late = board.call()
    late.expect("User-ID: ")
    board.stop()


def case_grace_waits_for_the_check(d):
    """The time a password waits behind other callers' checks never counts
    against the SSH grace: with a 2 s grace and some 4 s of checks queued
    ahead of it (90 telnet guesses typed at once), a right password is let
    in."""
    account(PROGRAM, d, "alice", "a-pass")
    board = Board(PROGRAM, d, *SSH, "--prompt-timeout", "2", "--channels", "96")
    queued = [board.call() for _ in range(90)]
    for c in queued:
        c.sock.sendall(b"alice\r\nwrong\r\n")
    start = time.monotonic()
    c = board.ssh("alice", "a-pass", "-o", "PreferredAuthentications=password")
    c.expect("Welcome, alice", 60)
    waited = time.monotonic() - start
    c.send("/quit")
    c.expect("Goodbye.")
    status, trace, _ = board.stop()
    assert status == 0, status
    assert waited > 2, f"the checks ahead took only {waited:.1f} s: the case proves nothing"
    print(f"  let in after {waited:.1f} s behind 90 checks")


# Offered only with --ssh-legacy: the old ciphers, and the Diffie-Hellman
# groups whose cost on the loop is the client's choice.
LEGACY = [
    ["-c", "aes128-cbc"],
    ["-o", "KexAlgorithms=diffie-hellman-group16-sha512"],
    ["-o", "KexAlgorithms=diffie-hellman-group14-sha256"],
]


def case_algorithms(d):
    """Each legacy choice refused by default, taken with --ssh-legacy; the
    dearest exchange offered by default, ecdh-sha2-nistp521, taken."""
    account(PROGRAM, d, "alice", "a-pass")
    board = Board(PROGRAM, d, *SSH)
    for options in LEGACY:
        c = board.ssh("alice", "a-pass", *options)
        assert c.status() == 255, (options, c.status(), c.text())
        assert b"Welcome" not in c.text(), (options, c.text())
    c = board.ssh("alice", "a-pass", "-o", "KexAlgorithms=ecdh-sha2-nistp521")
    c.expect("Welcome, alice")
    c.close()
    board.stop()
    board = Board(PROGRAM, d, *SSH, "--ssh-legacy")
    for options in LEGACY:
        c = board.ssh("alice", "a-pass", *options)
        c.expect("Welcome, alice")
        c.close()
    board.stop()


def case_new_user(d):
    """With --new-users, `new` over SSH signs up through the prompts."""
    board = Board(PROGRAM, d, *SSH, "--new-users", "GUEST")
    c = board.ssh("new", "anything")
    c.expect("Choose a user-id: ")
    c.send("dora")
    c.expect("Choose a password: ")
    c.send("d-pass")
    c.expect("Type it again: ")
    c.send("d-pass")
    c.expect("Welcome, dora")
    c.close()
    again = board.ssh("dora", "d-pass")
    again.expect("Welcome, dora")
    again.close()
    status, trace, _ = board.stop()
    trace_has(trace, "newuser 0 \"dora\"")


def case_blank_userid(d):
    """The log-on name is the user-id as the User-ID prompt keeps it: blanks
    inside, runs of them folded, case as the host compares it."""
    account(PROGRAM, d, "Gus Guest", "g-pass")
    board = Board(PROGRAM, d, *SSH)
    for name in ("Gus Guest", "gus  guest "):
        c = board.ssh(name, "g-pass")
        c.expect("Welcome, ")
        c.send("/quit")
        c.expect("Goodbye.")
        assert c.closed()
    status, trace, _ = board.stop()
    trace_has(trace, "logon 0 \"Gus Guest\" accepted")


def glue_password(transport):
    """The client's password request goes in one write behind an ignored
    message, as a client that does not wait between its packets sends it."""
    packetizer = transport.packetizer
    send, write = packetizer.send_message, packetizer.write_all

    def send_message(message):
        if message.asbytes()[:1] != b"\x32":  # not a user-auth request
            return send(message)
        held = []
        packetizer.write_all = held.append
        try:
            ignore = paramiko.Message()
            ignore.add_byte(b"\x02")
            ignore.add_string(b"x")
            send(ignore)
            send(message)
        finally:
            packetizer.write_all = write
        write(b"".join(held))
    packetizer.send_message = send_message


# (user-id, password, the request glued to another, logs on)
NUL_ROWS = [
    ("alice", "a-pass\0junk", False, False),
    ("alice\0junk", "a-pass", False, False),
    ("alice", "a-pass\0junk", True, False),
    ("alice", "a-pass", False, True),
]


def case_nul_inside(d):
    """A NUL inside the user-id or the password is no log-on as the part
    before it, even when the request cannot be measured on its own."""
    account(PROGRAM, d, "alice", "a-pass")
    board = Board(PROGRAM, d, *SSH)
    for user, password, glued, good in NUL_ROWS:
        sock = socket.create_connection(("127.0.0.1", board.ssh_port), timeout=10)
        t = paramiko.Transport(sock)
        t.start_client(timeout=10)
        if glued:
            glue_password(t)
        try:
            t.auth_password(user, password)
            on = True
        except paramiko.AuthenticationException:
            on = False
        t.close()
        assert on == good, (user, password, glued, on)
    board.stop()


def on(board):
    """Alice on over SSH, her connection kept open by the test."""
    c = board.kept("alice", "a-pass")
    c.expect("Welcome, alice")
    return c


def end_channel_closed(board, d):
    c = on(board)
    c.chan.close()  # the channel ends; the connection stays
    return c


def end_eof(board, d):
    c = on(board)
    c.chan.shutdown_write()
    return c


def end_quit(board, d):
    c = on(board)
    c.send("/quit")
    c.expect("Goodbye.")
    return c


def end_kick(board, d):
    c = on(board)
    code, out, err = ctl(PROGRAM, d, "kick", "0")
    assert code == 0, (out, err)
    return c


def end_idle(board, d):
    c = on(board)
    c.expect("idle too long", timeout=15)
    return c


def end_busy(board, d):
    holder = board.call()  # the one channel taken
    holder.expect("User-ID: ")
    c = board.kept("alice", "a-pass")
    c.expect("All channels are busy.")
    return c


def end_no_shell(board, d):
    return board.kept("new", "anything", shell=False)  # logged on, then silent


def end_control_master(board, d):
    """OpenSSH sharing its connection, which outlives the session."""
    path = os.path.join(d, "cm-%r")
    c = board.ssh("alice", "a-pass", "-o", "ControlMaster=auto", "-o", "ControlPath=" + path,
                  "-o", "ControlPersist=30")
    c.expect("Welcome, alice")
    c.send("/quit")
    c.expect("Goodbye.")
    return c


# How a call may end while the client holds its connection open: each on a
# board of its own with these flags, which must come through it.
ENDINGS = [
    (end_channel_closed, []),
    (end_eof, []),
    (end_quit, []),
    (end_kick, []),
    (end_idle, ["--idle-timeout", "1"]),
    (end_busy, ["--channels", "1"]),
    (end_no_shell, ["--new-users", "GUEST", "--prompt-timeout", "2"]),
    (end_control_master, []),
]


def case_endings(d):
    """A call the board ends while the client keeps its connection: the
    board lives on (a new telnet caller is answered), and stops cleanly.
    Every ending is tried; the failures are told together."""
    account(PROGRAM, d, "alice", "a-pass")
    failures = []
    for ending, flags in ENDINGS:
        board = Board(PROGRAM, d, *SSH, *flags)
        try:
            c = ending(board, d)
            deadline = time.monotonic() + 15
            while c.transport_open() and time.monotonic() < deadline:
                time.sleep(0.1)
            assert not c.transport_open(), "the board kept the connection"
            board.alive()
            status, _, err = board.stop()
            c.close()
            assert status == 0, "exit %s %s" % (status, err)
        except Exception as e:  # the next ending runs on a board of its own
            failures.append("%s: %s" % (ending.__name__, e))
        Board.kill_all()
    assert not failures, "\n".join(failures)


def case_stop_with_callers(d):
    """SIGTERM with a caller on and a handshake open, both clients keeping
    their connections: the board exits 0."""
    account(PROGRAM, d, "alice", "a-pass")
    board = Board(PROGRAM, d, *SSH)
    caller = on(board)
    handshake = board.kept()  # key exchange done, no log-on yet
    status, _, err = board.stop()
    assert status == 0, (status, err)
    caller.close()
    handshake.close()


def resident_mb(board):
    with open("/proc/%d/status" % board.proc.pid) as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmRSS")) / 1024


def flood(board, c, seconds=8, most=96 << 20):
    """Sends blank lines as fast as the client goes, reading what comes back,
    until MOST bytes, SECONDS or the board's end; answers the resident peak.
    A send the board leaves waiting blocks paramiko's reading too: the
    client is closed when the time is up."""
    def answers():
        try:
            while c.chan.recv(65536):
                pass
        except Exception:  # the board ended the call: the flood stops too
            pass
    threading.Thread(target=answers, daemon=True).start()
    sent, end, peaks = 0, time.monotonic() + seconds, [resident_mb(board)]

    def sample():
        while time.monotonic() < end and board.proc.poll() is None:
            peaks.append(resident_mb(board))
            time.sleep(0.1)
    sampler = threading.Thread(target=sample, daemon=True)
    sampler.start()
    stop = threading.Timer(seconds, c.transport.close)
    stop.start()
    try:
        while sent < most and time.monotonic() < end:
            sent += c.chan.send(b"\r" * 32000)
    except Exception:  # refused or stalled: what counts is the board's memory
        pass
    finally:
        stop.cancel()
    sampler.join()
    return max(peaks)


# Input an SSH caller sends and the call has not read is held to a window:
# (what, shell taken, the client keeps to the board's window).
FLOODS = [
    ("before the shell, the window ignored", False, False),
    ("after the shell, the window ignored", True, False),
    ("after the shell, within the window", True, True),
]


def case_input_bounded(d):
    """An SSH caller's flood costs the board a few hundred kB, as telnet's
    does, whether or not the client keeps to its window; the board lives."""
    account(PROGRAM, d, "alice", "a-pass")
    # Under AddressSanitizer freed memory waits in a quarantine of 256 MB:
    # kept small, the board's growth is its own.
    asan = os.environ.get("ASAN_OPTIONS")
    os.environ["ASAN_OPTIONS"] = (asan + ":" if asan else "") + "quarantine_size_mb=1"
    grown_by = []
    try:
        for what, shell, honest in FLOODS:
            board = Board(PROGRAM, d, *SSH)
            c = board.kept("alice", "a-pass", shell=shell)
            if shell:
                c.expect("Welcome, alice")
            time.sleep(0.5)  # the password hash's memory given back
            base = resident_mb(board)
            if not honest:
                c.chan.out_window_size = 1 << 30
            grown = flood(board, c) - base
            # AddressSanitizer's own bookkeeping grows with the traffic.
            assert grown < (48 if SANITIZED else 2), "%s: the board grew by %.1f MB" % (what, grown)
            grown_by.append("%s %.1f MB" % (what, grown))
            board.alive()
            c.close()
            board.stop()
    finally:
        if asan is None:
            del os.environ["ASAN_OPTIONS"]
        else:
            os.environ["ASAN_OPTIONS"] = asan
    return "grown: " + "; ".join(grown_by)


def case_closed_handshakes(d):
    """Ten clients from four addresses do the key exchange and close: their
    handshakes end with them, so an SSH caller gets in at once, not after
    the grace (30 s)."""
    account(PROGRAM, d, "alice", "a-pass")
    board = Board(PROGRAM, d, *SSH)
    for i in range(10):
        board.kept(source="127.0.0.%d" % (2 + i % 4)).close()
    time.sleep(1)
    c = board.kept("alice", "a-pass")
    c.expect("Welcome, alice")
    c.close()
    board.stop()


CASES = [case_blank_userid, case_nul_inside, case_bump, case_host_key, case_wrong_password, case_right_password_forgiven,
         case_grace_waits_for_the_check,
         case_algorithms, case_new_user, case_endings, case_stop_with_callers, case_input_bounded,
         case_closed_handshakes]


run_cases(CASES, sys.argv[2:], "zorgaval-ssh-test.")
