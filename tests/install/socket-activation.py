"""Socket activation as systemd does it, driven by systemd-socket-activate:
the board takes the sockets named telnet and ssh in place of its own
addresses (SSH turned on by its socket alone), serves a caller on each,
and exits 0 on SIGTERM; a socket with a name it does not know stops it
with exit 2 and the name. Skipped where systemd-socket-activate is missing.
usage: socket-activation.py ZORGAVAL_BOARD"""
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

BOARD = sys.argv[1]
FAILURES = []


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def read_until(sock, want, timeout=30):
    """What SOCK sends up to WANT, or all it sent by TIMEOUT."""
    got, end = b"", time.monotonic() + timeout
    while want not in got and time.monotonic() < end:
        sock.settimeout(max(0.1, end - time.monotonic()))
        try:
            data = sock.recv(4096)
        except socket.timeout:
            break
        if not data:
            break
        got += data
    return got


def activate(scratch, names):
    """The board under systemd-socket-activate, one socket a name; answers
    (process, ports, stderr path). The board is started by the first call."""
    ports = [free_port() for _ in names]
    err = os.path.join(scratch, "stderr.out")
    words = ["systemd-socket-activate"]
    for port, name in zip(ports, names):
        words += ["-l", "127.0.0.1:%d" % port, "--fdname=" + name]
    os.makedirs(os.path.join(scratch, "dir"), exist_ok=True)
    words += [BOARD, "--dir", os.path.join(scratch, "dir"), "--listen", "127.0.0.1:0"]
    proc = subprocess.Popen(words, stdout=subprocess.DEVNULL, stderr=open(err, "w"))
    for _ in range(300):  # listening before anything is asked of it
        if "Listening on 127.0.0.1:%d" % ports[-1] in open(err).read():
            break
        time.sleep(0.1)
    return proc, ports, err


def named_sockets(scratch):
    proc, (telnet, ssh), err = activate(scratch, ["telnet", "ssh"])
    try:
        with socket.create_connection(("127.0.0.1", telnet)) as caller:
            got = read_until(caller, b"User-ID: ")
            if b"User-ID: " not in got:
                FAILURES.append("no prompt on the telnet socket: %r" % got)
        with socket.create_connection(("127.0.0.1", ssh)) as caller:
            got = read_until(caller, b"\r\n")
            if not got.startswith(b"SSH-2.0-"):
                FAILURES.append("no SSH banner on the ssh socket: %r" % got)
        said = open(err).read()
        for line in ("zorgaval-board: listening on 127.0.0.1:%d\n" % telnet,
                     "zorgaval-board: ssh listening on 127.0.0.1:%d\n" % ssh):
            if line not in said:
                FAILURES.append("no line %r in:\n%s" % (line, said))
        proc.send_signal(signal.SIGTERM)
        if proc.wait(timeout=30) != 0:
            FAILURES.append("exit %d after SIGTERM: %s" % (proc.returncode, open(err).read()))
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()


def unknown_name(scratch):
    proc, (port,), err = activate(scratch, ["gopher"])
    try:
        with socket.create_connection(("127.0.0.1", port)):
            status = proc.wait(timeout=30)
        said = open(err).read()
        if status != 2 or 'socket named "gopher"' not in said:
            FAILURES.append("a socket named gopher: exit %d, %s" % (status, said))
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()


def main():
    if not shutil.which("systemd-socket-activate"):
        print("skipped: systemd-socket-activate is not installed")
        sys.exit(77)
    for case in (named_sockets, unknown_name):
        with tempfile.TemporaryDirectory(prefix="zorgaval-sockets.") as scratch:
            case(scratch)
    for f in FAILURES:
        print("FAIL " + f, file=sys.stderr)
    sys.exit(1 if FAILURES else 0)


if __name__ == "__main__":
    main()
