#!/usr/bin/env python3
# A storm of the dearest SSH key exchange the board offers by default
# (ecdh-sha2-nistp521) against telnet's prompt: the time from a telnet
# connection to its "User-ID: " prompt, p50 and p99, on a quiet board and
# while ten clients from four addresses do that exchange and close, again
# and again; and the board's CPU per exchange. Another exchange and the
# board's flags for it may be named (a Diffie-Hellman group, --ssh-legacy).
#   ssh_storm.py BOARD SECONDS [KEX [FLAG...]]
import os
import re
import socket
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests",
                                "board"))
from client import Caller, paramiko  # noqa: E402  (Debian's, wherever Python finds it)

program, seconds = sys.argv[1], float(sys.argv[2])
KEX = sys.argv[3] if len(sys.argv) > 3 else "ecdh-sha2-nistp521"
FLAGS = sys.argv[4:]


def prompt_ms(port):
    start = time.monotonic()
    c = Caller(port)
    try:
        c.expect("User-ID: ")
    except AssertionError:
        raise SystemExit("the board closed a telnet caller before its prompt")
    finally:
        c.close()
    return (time.monotonic() - start) * 1000


def prompts(port, until):
    out = []
    while time.monotonic() < until:
        out.append(prompt_ms(port))
        time.sleep(0.02)
    return sorted(out)


def exchanges(port, source, until, done):
    while time.monotonic() < until:
        try:
            s = socket.create_connection(("127.0.0.1", port), timeout=10,
                                         source_address=(source, 0))
            t = paramiko.Transport(s)
            t.get_security_options().kex = [KEX]
            t.start_client(timeout=10)
            t.close()
            done.append(1)
        except (OSError, paramiko.SSHException, EOFError):
            time.sleep(0.05)  # past the limit of handshakes: closed at once


def cpu_s(pid):
    fields = open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def pct(sorted_ms, p):
    return sorted_ms[min(len(sorted_ms) - 1, int(len(sorted_ms) * p))]


with tempfile.TemporaryDirectory() as d:
    board = subprocess.Popen([program, "--dir", d, "--listen", "127.0.0.1:0", "--ssh",
                              "127.0.0.1:0", *FLAGS], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    ports = {}
    while len(ports) < 2:
        line = board.stderr.readline().decode()
        m = re.search(r"(ssh )?listening on 127\.0\.0\.1:(\d+)", line)
        if m:
            ports["ssh" if m.group(1) else "telnet"] = int(m.group(2))
        elif not line:
            raise SystemExit("the board did not start")
    quiet = prompts(ports["telnet"], time.monotonic() + seconds)
    done = []
    until = time.monotonic() + seconds
    before = cpu_s(board.pid)
    storm = [threading.Thread(target=exchanges,
                              args=(ports["ssh"], "127.0.4.%d" % (1 + i % 4), until, done))
             for i in range(10)]
    for t in storm:
        t.start()
    time.sleep(0.5)  # the storm under way
    loud = prompts(ports["telnet"], until)
    for t in storm:
        t.join()
    cpu = cpu_s(board.pid) - before
    board.terminate()
    board.wait(timeout=10)
    print("  telnet prompt, quiet board, p50 / p99     %.1f / %.1f ms (%d calls)"
          % (pct(quiet, 0.5), pct(quiet, 0.99), len(quiet)))
    print("  ... during a %s storm  %.1f / %.1f ms (%d calls)"
          % (KEX, pct(loud, 0.5), pct(loud, 0.99), len(loud)))
    print("  exchanges done in the storm                %d, board CPU %.1f ms each"
          % (len(done), cpu * 1000 / max(1, len(done))))
