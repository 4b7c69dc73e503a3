"""The board's readiness as systemd's Type=notify reads it: READY=1 on
$NOTIFY_SOCKET once it listens (after its "listening on" line); at SIGHUP
RELOADING=1 with MONOTONIC_USEC, then READY=1 again; STOPPING=1 when it
goes down, then exit 0.
usage: notify.py ZORGAVAL_BOARD"""
import os
import signal
import socket
import subprocess
import sys
import tempfile


def main():
    board = sys.argv[1]
    failures = []
    with tempfile.TemporaryDirectory(prefix="zorgaval-notify.") as scratch:
        path = os.path.join(scratch, "notify")
        sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        sock.bind(path)
        sock.settimeout(30)
        env = dict(os.environ, NOTIFY_SOCKET=path)
        os.mkdir(os.path.join(scratch, "dir"))
        proc = subprocess.Popen(
            [board, "--dir", os.path.join(scratch, "dir"), "--listen", "127.0.0.1:0"],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, env=env)
        try:
            # Start-up warnings (no account here) may come before it.
            listening = proc.stderr.readline()
            while listening and "listening on" not in listening:
                listening = proc.stderr.readline()
            if "listening on 127.0.0.1:" not in listening:
                failures.append("no listening line: %r" % listening)
            try:
                got = sock.recv(4096).decode()
                if "READY=1" not in got.split("\n"):
                    failures.append("first notification is %r, not READY=1" % got)
            except socket.timeout:
                failures.append("no READY=1 within 30 s of starting")
            proc.send_signal(signal.SIGHUP)
            try:
                got = [sock.recv(4096).decode().split("\n") for _ in range(2)]
                if "RELOADING=1" not in got[0] or not any(
                        f.startswith("MONOTONIC_USEC=") for f in got[0]) or "READY=1" not in got[1]:
                    failures.append("after SIGHUP: %r, not RELOADING=1 with MONOTONIC_USEC, then READY=1" % got)
            except socket.timeout:
                failures.append("no RELOADING=1 and READY=1 within 30 s of SIGHUP")
            proc.send_signal(signal.SIGTERM)
            try:
                got = sock.recv(4096).decode()
                if "STOPPING=1" not in got.split("\n"):
                    failures.append("after SIGTERM: %r, not STOPPING=1" % got)
            except socket.timeout:
                failures.append("no STOPPING=1 within 30 s of SIGTERM")
            status = proc.wait(timeout=30)
            if status != 0:
                failures.append("exit status %d after SIGTERM" % status)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
    for f in failures:
        print("FAIL " + f, file=sys.stderr)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
