"""A live evening on the board over loopback TCP, its channels numbered
from 10, then replayed by the simulator: under the board's own options the
module's lines come back line for line; under a larger reserve, more bumps
and fewer turned away; the picture parses back as XML. A second evening
in the same directory begins with the first's delay record stored, and
its replay refuses the barred caller as the board did.

usage: replay.py BOARD SIM"""

import os
import re
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from client import Board, account  # noqa: E402

BOARD, SIM = sys.argv[1], os.path.abspath(sys.argv[2])  # the replay runs elsewhere too
HERE = os.path.dirname(os.path.abspath(__file__))


def options(directory, name, reserve):
    """The sample with a range of channels 10 to 14 (the board's five, as
    --first 10 numbers them) and RESERVE kept free."""
    with open(os.path.join(HERE, "..", "..", "examples", "zorgaval.mcv")) as f:
        text = f.read()
    text = text.replace("\n15 = 2 ", "\n15 = %d " % reserve).replace("\n18 = 1F", "\n18 = 14")
    text = text.replace("\n17 = 00", "\n17 = 10")
    path = os.path.join(directory, name)
    with open(path, "w") as f:
        f.write(text)
    return path


def prompts(board, n):
    callers = [board.call() for _ in range(n)]
    for c in callers:
        c.expect("User-ID: ")
    return callers


def live_evening(d):
    """Five channels, busy at four under a reserve of 1. bob (watcher) and
    dave (GUEST) on; three callers at the prompt fill the board and a
    fourth is turned away; dave leaves. erin (DEMO) signs on on channel 3
    and alice (DEMO) later on channel 2: the range is busy, and erin, on
    line longer (the usage figure), is the one bumped; calling back,
    refused, once carol has left. Answers the board's trace."""
    for who, keys in (("bob", "WATCHER"), ("dave", "GUEST"), ("carol", None), ("alice", "DEMO"),
                      ("erin", "DEMO")):
        account(BOARD, d, who, who + "-pw", keys)
    board = Board(BOARD, d, "--channels", "5", "--first", "10", "--speed", "60", "--clock",
                  "2026-12-08 19:00:00")
    on = {}

    def sign_on(who):
        on[who] = board.call()
        on[who].login(who, who + "-pw")
        on[who].expect("Welcome")

    for who in ("bob", "dave"):
        sign_on(who)
    time.sleep(2.5)  # five scans: under a reserve of 3, dave is bumped now
    waiting = prompts(board, 3)
    board.call().expect("All channels are busy")
    on["dave"].send("/quit")
    on["dave"].closed()
    for c in waiting:
        c.close()
    time.sleep(0.5)
    holders = prompts(board, 2)  # channels 1 and 2, so erin gets 3
    sign_on("erin")
    for c in holders:
        c.close()
    time.sleep(1)
    sign_on("carol")
    sign_on("alice")
    on["erin"].expect("You have been disconnected to free a channel.", timeout=15)
    # carol leaves first, so erin's call back does not make the range busy
    # again: on a loaded machine the password check could outlast another
    # scan and grace, and bump alice too.
    on["carol"].send("/quit")
    on["carol"].closed()
    again = board.call()
    again.login("erin", "erin-pw")
    again.expect("You were disconnected a short while ago")
    time.sleep(0.5)
    status, trace, err = board.stop()
    assert status == 0, err
    return trace


def barred_evening(d):
    """Twenty minutes later in the same DIR: erin, bumped and so barred,
    calls again and is refused, once carol has left. Answers the board's trace."""
    board = Board(BOARD, d, "--channels", "5", "--first", "10", "--clock", "2026-12-08 19:20:00")
    caller = board.call()
    caller.login("erin", "erin-pw")
    caller.expect("You were disconnected a short while ago")
    caller.closed()
    status, trace, err = board.stop()
    assert status == 0, err
    return trace


def module_lines(trace):
    """The lines the module causes, and the host's hang-ups, up to the end."""
    out = []
    for line in trace:
        event = line[20:]
        if event.startswith("shutdown"):
            break
        if re.match(r"(deliver|audit|hangup|logon) ", event):
            # The caller's address the board adds to a log-on is its own,
            # never the module's, so a replay does not write it.
            out.append(re.sub(r' (accepted|rejected) "[^"]*"$', r" \1", line))
    return out


def sim(*words, check=True):
    r = subprocess.run([SIM, *words], capture_output=True, timeout=60)
    if check:
        assert r.returncode == 0, r.stderr.decode()
    return r.returncode, r.stdout.decode(), r.stderr.decode()


def row(table, label):
    for line in table.splitlines():
        if line.startswith(label + " "):
            return [int(v) for v in line.split()[1:]]
    raise AssertionError("no row %s in:\n%s" % (label, table))


def main():
    with tempfile.TemporaryDirectory(prefix="zorgaval-replay-test.") as d:
        board_dir = os.path.join(d, "board")
        os.mkdir(board_dir)
        own = options(board_dir, "zorgaval.mcv", 1)
        trace = live_evening(board_dir)
        path = os.path.join(d, "evening.trace")
        with open(path, "w") as f:
            f.write("\n".join(trace) + "\n")
        live = module_lines(trace)
        if os.environ.get("REPLAY_KEEP"):
            import shutil
            shutil.copytree(board_dir, os.path.join(os.environ["REPLAY_KEEP"], "board"),
                            dirs_exist_ok=True)
            shutil.copy(path, os.environ["REPLAY_KEEP"])
        assert any('"Gaval bumped a user"' in l for l in live), "\n".join(trace)
        assert any('"Gaval delayed Log-on"' in l for l in live), "\n".join(trace)
        assert any(' busy "' in l for l in trace), "\n".join(trace)
        assert any(' hangup 3 "erin"' in l for l in live), "\n".join(trace)

        # Faithful: the same lines at the same host times.
        _, out, err = sim("--replay", path, "--dir", board_dir)
        again = module_lines(out.splitlines())
        assert again == live, "replay differs:\n%s\n--- live:\n%s" % (
            "\n".join(again), "\n".join(live))
        assert "1 bump" in err and "1 refused log-on" in err, err

        # The board's opening line names its channels, numbering and DIR.
        opening = [l[20:] for l in trace if l[20:].startswith("board ")]
        assert opening == ['board 5 10 "%s"' % os.path.realpath(board_dir)], trace[:3]

        # What if two channels were kept free.
        wider = options(d, "reserve3.mcv", 3)
        svg = os.path.join(d, "evening.svg")
        _, table, _ = sim("--replay", path, "--dir", board_dir, own, wider, "--svg", svg)

        mine, theirs = row(table, own), row(table, wider)
        # calls log-ons warnings bumps refused busy exempt
        assert mine[3] == 1 and mine[4] == 1 and mine[5] == 1, table
        assert theirs[3] > mine[3] and theirs[5] < mine[5], table
        root = ET.parse(svg).getroot()
        assert root.tag == "{http://www.w3.org/2000/svg}svg", root.tag
        assert len(root.findall("{http://www.w3.org/2000/svg}g")) == 2

        # The rebuilt scenario is one the simulator reads and starts; with
        # fixed usage figures it need not run as the evening did.
        scn = os.path.join(d, "evening.scn")
        sim("--replay", path, "--dir", board_dir, "--scenario", scn)
        if os.environ.get("REPLAY_KEEP"):
            import shutil
            for f in (path, svg, scn):
                shutil.copy(f, os.environ["REPLAY_KEEP"])
        with open(scn) as f:
            text = f.read()
        assert 'account "erin" keys "DEMO"' in text and 'logon 3 "erin" usage' in text, text
        status, out, err = sim("--dir", os.path.join(d, "scn"), "--options", own, scn, check=False)
        assert status == 0 or (status == 2 and "is busy" in err), err
        assert 'logon 2 "alice" accepted' in out, out

        # The second evening starts with erin's record stored: the trace
        # shows it, and the replay (DIR from the trace, run elsewhere)
        # stores it too, so it refuses erin as the board did.
        second = barred_evening(board_dir)
        assert any(re.match(r'.{20}delay "erin" 2026-12-08 19:', l) for l in second), second
        path2 = os.path.join(d, "barred.trace")
        with open(path2, "w") as f:
            f.write("\n".join(second) + "\n")
        live2 = module_lines(second)
        assert any('"Gaval delayed Log-on"' in l for l in live2), "\n".join(second)
        r = subprocess.run([SIM, "--replay", path2], capture_output=True, timeout=60, cwd=d)
        assert r.returncode == 0, r.stderr.decode()
        again2 = module_lines(r.stdout.decode().splitlines())
        assert again2 == live2, "replay differs:\n%s\n--- live:\n%s" % (
            "\n".join(again2), "\n".join(live2))

        # A directory the trace names that is gone is said to be so.
        gone = os.path.join(d, "gone")
        with open(path2, "w") as f:
            f.write("\n".join(second).replace(os.path.realpath(board_dir), gone) + "\n")
        status, _, err = sim("--replay", path2, check=False)
        assert status == 1 and "gone" in err and "not the board's directory" in err, err

        # A simulator's trace is refused, naming what is needed.
        sim_trace = os.path.join(d, "sim.trace")
        with open(sim_trace, "w") as f:
            f.write(out)
        status, _, err = sim("--replay", sim_trace, "--dir", board_dir, check=False)
        assert status == 2 and "needs a board's trace" in err, err
    print("ok   replay")


if __name__ == "__main__":
    try:
        main()
    finally:
        Board.kill_all()
