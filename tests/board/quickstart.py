"""The README's "Trying a bump from two terminals", as a reader pastes it:
the shell block run at the repository's root with the board's program not
on PATH, the two callers driven over telnet as the text says, the board
stopped with Ctrl-C and started again, and the text's ctl commands run.
Where root can, it runs in a network namespace of its own, so the fixed
port 2323 is never another's; else it is skipped while 2323 is taken.

usage: quickstart.py REPO_ROOT BUILD_DIR"""

import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from client import Caller  # noqa: E402

ROOT, BUILD = os.path.realpath(sys.argv[1]), os.path.realpath(sys.argv[2])


def section():
    with open(os.path.join(ROOT, "README.md")) as f:
        text = f.read()
    start = text.index("## Trying a bump from two terminals")
    end = text.index("\n## ", start + 1)
    return text[start:end]


def own_network():
    """Re-runs this test in a new network namespace with loopback up."""
    if os.environ.get("QUICKSTART_NETNS") or os.geteuid() != 0:
        return
    probe = subprocess.run(["unshare", "-n", "true"], capture_output=True)
    if probe.returncode != 0:
        return
    env = dict(os.environ, QUICKSTART_NETNS="1")
    r = subprocess.run(["unshare", "-n", "sh", "-c", 'ip link set lo up && exec "$@"', "sh",
                        sys.executable, *sys.argv], env=env)
    sys.exit(r.returncode)


def port_taken():
    try:
        socket.create_connection(("127.0.0.1", 2323), timeout=1).close()
        return True
    except OSError:
        return False


def start(env, script):
    p = subprocess.Popen(["bash", "-c", script], cwd=ROOT, env=env, stdin=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                         start_new_session=True)
    seen = b""
    deadline = time.monotonic() + 30
    while b"listening on" not in seen:
        line = p.stderr.readline()
        assert line and time.monotonic() < deadline, "the board never listened: %r" % seen
        seen += line
    return p, seen


def bump_seen():
    bob, alice = Caller(2323), Caller(2323)
    bob.login("bob", "b-pass")
    bob.expect("Welcome")
    alice.login("alice", "a-pass")
    alice.expect("You will be disconnected in 60 seconds.")
    alice.expect("You have been disconnected to free a channel.")
    bob.expect("Zor Gaval bumped alice to free a channel.")
    again = Caller(2323)
    again.login("alice", "a-pass")
    again.expect("You were disconnected a short while ago to free a channel.")


def main():
    own_network()
    if not os.path.isfile(os.path.join(ROOT, "build", "zorgaval-board")) or \
            os.path.realpath(os.path.join(ROOT, "build")) != BUILD:
        print("skipped: the programs are not in the repository's build/")
        sys.exit(77)
    if port_taken():
        print("skipped: 127.0.0.1:2323 is taken and no namespace of its own could be made")
        sys.exit(77)
    text = section()
    block = re.search(r"```\n(.*?)```", text, re.S).group(1)
    lines = block.strip().split("\n")
    with tempfile.TemporaryDirectory(prefix="zorgaval-quick.") as home:
        path = ":".join(p for p in os.environ["PATH"].split(":")
                        if os.path.realpath(p or ".") != BUILD)
        env = dict(os.environ, HOME=home, PATH=path)
        board, said = start(env, block)
        try:
            bump_seen()
        finally:
            os.killpg(board.pid, signal.SIGINT)  # Ctrl-C
            board.wait(timeout=15)
        assert board.returncode == 0, board.returncode
        # Started again with its last line, as the text says.
        board, _ = start(env, lines[-1].join(["PATH=$PWD/build:$PATH\n", "\n"]))
        try:
            prose = " ".join(text[text.index("```", text.index("```") + 3):].split())
            ctls = re.findall(r"`(build/zorgaval-board ctl [^`]*)`", prose)
            assert len(ctls) == 2, ctls
            out = [subprocess.run(["bash", "-c", c], cwd=ROOT, env=env, capture_output=True,
                                  text=True, timeout=30) for c in ctls]
            assert out[0].returncode == 0 and 'delay "alice"' in out[0].stdout, out[0]
            assert out[1].returncode == 0, out[1]
            alice = Caller(2323)
            alice.login("alice", "a-pass")
            alice.expect("Welcome, alice")
        finally:
            os.killpg(board.pid, signal.SIGINT)
            board.wait(timeout=15)
    print("ok   the quick start as pasted: %s" % said.decode().strip().splitlines()[-1])


main()
