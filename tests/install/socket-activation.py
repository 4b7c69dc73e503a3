"""Socket activation as systemd does it, driven by systemd-socket-activate
(which starts the board at the first call): the sockets named telnet and
ssh taken in place of the board's own addresses, SSH turned on by its
socket alone, exit 0 on SIGTERM; a socket of an unknown name is exit 2.
Skipped where systemd-socket-activate is missing.
usage: socket-activation.py ZORGAVAL_BOARD"""
import os, shutil, signal, socket, subprocess, sys, tempfile, time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "board"))
from client import Caller  # noqa: E402

STARTED = []  # killed at the end, whatever became of the checks


def activated(scratch, *names):
    """The board under systemd-socket-activate, one socket a name, and the ports."""
    ports = []
    for _ in names:
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            ports.append(s.getsockname()[1])
    words = ["systemd-socket-activate"]
    for port, name in zip(ports, names):
        words += ["-l", "127.0.0.1:%d" % port, "--fdname=" + name]
    err = open(os.path.join(scratch, "stderr.out"), "w+")
    proc = subprocess.Popen(words + [sys.argv[1], "--dir", scratch, "--listen", "127.0.0.1:0"],
                            stdout=subprocess.DEVNULL, stderr=err)
    STARTED.append(proc)
    for _ in range(300):  # listening before anything is asked of it
        err.seek(0)
        if "Listening on 127.0.0.1:%d" % ports[-1] in err.read():
            break
        time.sleep(0.1)
    return proc, ports, err


def prompted(port):
    """Whether a telnet caller on PORT reads the User-ID prompt."""
    try:
        c = Caller(port)
        c.expect("User-ID: ", 30)
        c.close()
        return True
    except (AssertionError, OSError):
        return False


def first_words(port, want):
    with socket.create_connection(("127.0.0.1", port), timeout=30) as caller:
        got = b""
        while want not in got and (data := caller.recv(4096)):
            got += data
        return got


def ended(proc):
    try:
        return proc.wait(timeout=30)
    finally:
        proc.kill()


def main():
    if not shutil.which("systemd-socket-activate"):
        print("skipped: systemd-socket-activate is not installed")
        sys.exit(77)
    failures = []
    with tempfile.TemporaryDirectory(prefix="zorgaval-sockets.") as scratch:
        proc, (telnet, ssh), err = activated(scratch, "telnet", "ssh")
        if not prompted(telnet):
            failures.append("no prompt on the telnet socket")
        if not first_words(ssh, b"\r\n").startswith(b"SSH-2.0-"):
            failures.append("no SSH banner on the ssh socket")
        proc.send_signal(signal.SIGTERM)
        status = ended(proc)
        err.seek(0)
        said = err.read()
        for line in ("zorgaval-board: listening on 127.0.0.1:%d\n" % telnet,
                     "zorgaval-board: ssh listening on 127.0.0.1:%d\n" % ssh):
            if line not in said or status != 0:
                failures.append("exit %d, no line %r in:\n%s" % (status, line, said))
    with tempfile.TemporaryDirectory(prefix="zorgaval-sockets.") as scratch:
        proc, (port,), err = activated(scratch, "gopher")
        try:  # only starts the board, which refuses the socket and closes it
            socket.create_connection(("127.0.0.1", port), timeout=30).close()
        except ConnectionResetError:
            pass  # closed under the connection before it was taken: as good
        status = ended(proc)
        err.seek(0)
        said = err.read()
        if status != 2 or 'socket named "gopher"' not in said:
            failures.append("a socket named gopher: exit %d, %s" % (status, said))
    for f in failures:
        print("FAIL " + f, file=sys.stderr)
    sys.exit(1 if failures else 0)


try:
    main()
finally:
    for started in STARTED:
        started.kill()
