"""The live board through real loopback TCP, at a high host speed: one
table of cases, each on a fresh directory, each bounded in time.

usage: live.py BOARD [CASE...]"""

import os
import re
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from client import Board, Caller, account, ctl, small_range, run_cases  # noqa: E402

PROGRAM = sys.argv[1]
EVENING = ["--clock", "2026-12-08 19:00:00", "--speed", "60"]


def trace_has(lines, *words):
    assert any(all(w in line for w in words) for line in lines), \
        "no trace line with %r in:\n%s" % (words, "\n".join(lines))


def case_bump(d):
    """Callers fill the range: the DEMO holder is warned over the wire and
    bumped, the watcher told; calling back he is refused, also after a
    restart on the same directory, until the sysop pardons him."""
    options = small_range(d)
    account(PROGRAM, d, "alice", "a-pass", "DEMO")
    account(PROGRAM, d, "bob", "b-pass", "WATCHER")
    account(PROGRAM, d, "carol", "c-pass")
    board = Board(PROGRAM, d, "--options", options, "--channels", "4", *EVENING)
    callers = {}
    for name, pw in (("alice", "a-pass"), ("bob", "b-pass"), ("carol", "c-pass")):
        callers[name] = board.call()
        callers[name].login(name, pw)
        callers[name].expect("Welcome")
    alice, bob = callers["alice"], callers["bob"]
    alice.expect("You will be disconnected in 60 seconds.")
    alice.expect("You have been disconnected to free a channel.")
    told = re.search(r"after (\d\d)/(\d\d)/(\d\d) (\d\d:\d\d:\d\d)",
                     alice.expect("It is now 12/08/26").decode(errors="replace"))
    assert told, "no end of the delay told"
    until = "until 20%s-%s-%s %s" % (told[3], told[1], told[2], told[4])
    assert alice.closed(), "the bumped caller's connection stays open"
    bob.expect("Zor Gaval bumped alice to free a channel.")
    again = board.call()
    again.login("alice", "a-pass")
    again.expect("You were disconnected a short while ago to free a channel.")
    again.expect("It is now ")
    assert again.closed()
    status, trace, _ = board.stop()
    assert status == 0, status
    trace_has(trace, "logon 0 \"alice\" rejected")
    trace_has(trace, "shutdown")
    code, out, _ = ctl(PROGRAM, d, "delays")  # no board: the file read as it lies
    assert code == 0 and out.startswith('delay "alice" 2026-12-08 ') and until in out, (code, out)

    board = Board(PROGRAM, d, "--options", options, "--channels", "4", *EVENING)
    code, out, _ = ctl(PROGRAM, d, "delays")
    assert code == 0 and 'delay "alice"' in out and until in out, (code, out, until)
    again = board.call()
    again.login("alice", "a-pass")
    again.expect("You were disconnected a short while ago")
    assert again.closed()
    code, out, err = ctl(PROGRAM, d, "pardon", "alice")
    assert code == 0, (code, out, err)
    again = board.call()
    again.login("alice", "a-pass")
    again.expect("Welcome, alice")
    status, trace, _ = board.stop()
    assert status == 0, status
    trace_has(trace, "pardon \"alice\" by ctl")
    trace_has(trace, "logon 0 \"alice\" accepted")


def case_watcher_served_last(d):
    """The watcher is the caller the board served last when the bump comes
    (he typed after the warning): the board's timers run as no caller, so
    he is told all the same."""
    options = small_range(d)
    account(PROGRAM, d, "alice", "a-pass", "DEMO")
    account(PROGRAM, d, "carol", "c-pass")
    account(PROGRAM, d, "bob", "b-pass", "WATCHER")
    board = Board(PROGRAM, d, "--options", options, "--channels", "4",
                  "--clock", "2026-12-08 19:00:00", "--speed", "20")
    callers = {}
    for name, pw in (("alice", "a-pass"), ("carol", "c-pass"), ("bob", "b-pass")):
        callers[name] = board.call()
        callers[name].login(name, pw)
        callers[name].expect("Welcome")
    alice, bob = callers["alice"], callers["bob"]
    alice.expect("You will be disconnected in 60 seconds.")
    bob.send("still here")  # served last now, three host seconds before the bump
    callers["carol"].expect("still here")
    alice.expect("You have been disconnected to free a channel.")
    bob.expect("Zor Gaval bumped alice to free a channel.")
    status, trace, _ = board.stop()
    assert status == 0, status


def case_usage(d):
    """The usage figure is the time on line: of two callers with the same
    bump key, the one on longer is warned, though the other sits on the
    lower channel and would be chosen on a tie."""
    options = small_range(d, last="04")
    for name in ("alice", "dave"):
        account(PROGRAM, d, name, name + "-pass", "DEMO")
    for name in ("carol", "erin"):
        account(PROGRAM, d, name, name + "-pass")
    board = Board(PROGRAM, d, "--options", options, "--channels", "5", *EVENING)
    holder = board.call()          # keeps channel 0 while alice takes 1
    holder.expect("User-ID: ")
    on = {}
    for name in ("alice", "carol"):
        on[name] = board.call()
        on[name].login(name, name + "-pass")
        on[name].expect("Welcome")
    holder.close()
    time.sleep(1)                  # a host minute
    for name in ("dave", "erin"):  # dave on channel 0, then the range is busy
        on[name] = board.call()
        on[name].login(name, name + "-pass")
        on[name].expect("Welcome")
    on["alice"].expect("You will be disconnected in 60 seconds.")
    status, trace, _ = board.stop()
    assert status == 0, status
    trace_has(trace, "logon 0 \"dave\" accepted")
    assert not any("deliver 0 " in line for line in trace), trace


def case_wrong_passwords(d):
    """Three refusals end the call; an unknown user-id reads the same words
    and never becomes an account. With loopback throttled, the address is
    then refused at connect until the sysop unblocks it."""
    account(PROGRAM, d, "alice", "a-pass", "DEMO")
    board = Board(PROGRAM, d, "--block-loopback", "--fail-limit", "3", *EVENING)
    c = board.call()
    for userid in ("alice", "nobody", "alice"):
        c.login(userid, "wrong")
        c.expect("Wrong user-id or password.")
    c.expect("Too many tries.")
    assert c.closed()
    c = board.call()
    c.expect("Too many failed log-ons from your address.")
    assert c.closed()
    code, out, err = ctl(PROGRAM, d, "blocked")
    assert code == 0 and out.startswith("127.0.0.1 "), (code, out, err)
    code, out, err = ctl(PROGRAM, d, "unblock", "127.0.0.1")
    assert code == 0, (code, out, err)
    c = board.call()
    c.login("alice", "a-pass")
    c.expect("Welcome, alice")
    status, trace, _ = board.stop()
    assert status == 0, status
    assert sum("\"alice\" rejected" in line for line in trace) == 2, trace
    trace_has(trace, "unknown 0 \"nobody\"")
    trace_has(trace, "hangup 0 \"(Login)\"")
    trace_has(trace, "block \"127.0.0.1\" 600")
    code, out, _ = ctl(PROGRAM, d, "who")  # no board: refused
    assert code == 1, (code, out)
    code, out, _ = ctl(PROGRAM, d, "delays")  # no board: read from the file, none there
    assert code == 0 and out == "", (code, out)
    listing = os.popen("%s account list --dir %s" % (PROGRAM, d)).read()
    assert "nobody" not in listing, listing


def case_new_users(d):
    """With --new-users an unknown user-id is refused as a wrong password is;
    a caller who types `new` chooses a user-id and a password (twice) and
    gets an account with the keys given; it holds on the next call."""
    board = Board(PROGRAM, d, "--new-users", "GUEST,TRIAL", *EVENING)
    c = board.call()
    c.expect("type new at the User-ID prompt")
    c.expect("User-ID: ")
    c.send("dave")
    c.expect("Password: ")
    c.send("d-pass")
    c.expect("Wrong user-id or password.")
    c.expect("User-ID: ")
    c.send("new")
    c.expect("Choose a user-id: ")
    c.send("dave")
    c.expect("Choose a password: ")
    c.send("d-pass")
    c.expect("Type it again: ")
    c.send("d-pass")
    c.expect("Welcome, dave")
    c.send("/quit")
    assert c.closed()
    c = board.call()
    c.login("dave", "d-pass")
    c.expect("Welcome, dave")
    status, trace, _ = board.stop()
    assert status == 0, status
    trace_has(trace, "newuser 0 \"dave\"")
    listing = os.popen("%s account list --dir %s" % (PROGRAM, d)).read()
    assert 'account "dave" keys "GUEST,TRIAL"' in listing, listing


def case_two_word_ids(d):
    """Ids with blanks inside: Gus Guest signs on however he spaces it, a
    sign-up keeps its id folded, and one beginning with ( is refused."""
    account(PROGRAM, d, "Gus Guest", "g-pass")
    board = Board(PROGRAM, d, "--new-users", "GUEST", *EVENING)
    c = board.call()
    c.login("  gus   GUEST ", "g-pass")
    c.expect("Welcome, gus GUEST.")  # folded, in the case typed
    again = board.call()  # the host's compare finds him on line
    again.login("Gus Guest", "g-pass")
    again.expect("Gus Guest is on line already, on another channel.")
    n = board.call()
    n.expect("User-ID: ")
    n.send("new")
    n.expect("Choose a user-id: ")
    n.send("(Ann")
    n.expect("not beginning with ( or )")
    n.expect("Choose a user-id: ")
    n.send(" Ann   Other")
    n.expect("New user Ann Other: welcome.")
    n.expect("Choose a password: ")
    n.send("n-pass")
    n.expect("Type it again: ")
    n.send("n-pass")
    n.expect("Welcome, Ann Other")
    code, out, err = ctl(PROGRAM, d, "who")
    assert code == 0 and '"Gus Guest"' in out and '"Ann Other"' in out, (code, out, err)
    status, trace, _ = board.stop()
    assert status == 0, status
    trace_has(trace, "newuser 1 \"Ann Other\"")


def case_busy_and_down(d):
    """With every channel taken the next caller is turned away; the sysop
    sees who is on and speaks to them; going down, the caller on line is
    told and the board exits 0."""
    account(PROGRAM, d, "alice", "a-pass")
    board = Board(PROGRAM, d, "--channels", "1", *EVENING)
    c = board.call()
    c.login("alice", "a-pass")
    c.expect("Welcome")
    late = board.call()
    late.expect("All channels are busy. Please call back later.")
    assert late.closed()
    code, out, err = ctl(PROGRAM, d, "who")
    assert code == 0 and '0      0      6 "alice"' in out and " telnet" in out, (code, out, err)
    code, out, err = ctl(PROGRAM, d, "say", "back in five")
    assert code == 0, (code, out, err)
    c.expect("back in five")
    status, trace, _ = board.stop()
    c.expect("The board is going down now.")
    assert c.closed()
    assert status == 0, status
    trace_has(trace, "busy \"127.0.0.1:")
    assert trace[-1].endswith(" shutdown"), trace[-1]


CASES = [case_bump, case_watcher_served_last, case_usage, case_wrong_passwords, case_new_users, case_two_word_ids,
         case_busy_and_down]


run_cases(CASES, sys.argv[2:], "zorgaval-board-test.")
