"""The fail2ban filter in examples/ read by fail2ban-regex over a real
board's trace: each refused password, unknown user-id and block names the
caller's address, a right log-on nothing, and a user-id that looks like an
address never puts its own words in place of the caller's.

usage: fail2ban.py BOARD   (exit 77 without fail2ban-regex)"""

import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from client import Board, account  # noqa: E402

PROGRAM = sys.argv[1]
FILTER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples",
                      "fail2ban", "filter.d", "zorgaval-board.conf")
TRICK = 'x" rejected "10.9.8.7'  # an id typed to frame another address


def main():
    if shutil.which("fail2ban-regex") is None:
        print("skipped: fail2ban-regex is not installed (make packages)")
        sys.exit(77)
    with tempfile.TemporaryDirectory(prefix="zorgaval-f2b.") as d:
        account(PROGRAM, d, "alice", "a-pass")
        board = Board(PROGRAM, d, "--block-loopback", "--fail-limit", "3",
                      "--clock", "2026-12-08 19:00:00")
        try:
            c = board.call()
            c.login("alice", "a-pass")  # a right one: never matched
            c.expect("Welcome")
            c.send("/quit")
            for userid in ("alice", "nobody", TRICK):  # the third guess blocks
                c = board.call()
                c.login(userid, "wrong")
                c.expect("Wrong user-id or password.")
                c.close()
            status, trace, _ = board.stop()
        finally:
            Board.kill_all()
        assert status == 0, status
        log = os.path.join(d, "trace.log")
        with open(log, "w") as f:
            f.write("\n".join(trace) + "\n")
        r = subprocess.run(["fail2ban-regex", "--out", "ip", log, FILTER],
                           capture_output=True, timeout=60, text=True)
        assert r.returncode == 0, r.stderr
        found = r.stdout.split()
        # alice's wrong password, two unknown ids, and the block they made.
        assert found == ["127.0.0.1"] * 4, (found, "\n".join(trace))
    print("ok   the filter finds 4 failures of 127.0.0.1 in the board's trace")


main()
