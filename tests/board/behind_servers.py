"""Boards behind the front door for its tests: a scripted RLogin server
(RFC 1282, password-first or not, as the front door's fields make it) and
the real servers from Debian's packages (in.rlogind, inetutils-telnetd,
tinymux), each started by the test and stopped by it."""

import os
import signal
import socket
import subprocess
import threading
import time


def read_fields(conn):
    """The RLogin opening: a NUL, then three NUL-ended strings."""
    data = b""
    while data.count(b"\0") < 4:
        got = conn.recv(1024)
        if not got:
            return None, data
        data += got
    parts = data.split(b"\0")
    return parts[1:4], b"\0".join(parts[4:])


class ScriptedRlogin:
    """Answers each call: the zero byte, the urgent window request, then a
    line naming the fields and the window, then echoes what comes, telling
    each window message as `window ROWSxCOLS`; `open` is answered with an
    escape sequence and a UTF-8 character each sent in two pieces. FLOOD sends that many bytes
    first; STALL then reads nothing more; SILENT never answers the opening."""

    def __init__(self, silent=False, flood=0, stall=False):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(16)
        self.port = self.sock.getsockname()[1]
        self.silent, self.flood, self.stall = silent, flood, stall
        self.stopped = threading.Event()
        self.sources = []  # the front door's source ports
        self.conns = []
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        while True:
            try:
                conn, peer = self.sock.accept()
            except OSError:
                return
            self.sources.append(peer[1])
            self.conns.append(conn)
            threading.Thread(target=self._call, args=(conn,), daemon=True).start()

    def _call(self, conn):
        try:
            fields, rest = read_fields(conn)
            if fields is None or self.silent:
                conn.recv(1)
                return
            conn.sendall(b"\0")
            conn.send(b"\x80", socket.MSG_OOB)
            conn.sendall(b"fields %s|%s|%s\r\n" % tuple(fields))
            if self.flood:
                conn.sendall(b"z" * self.flood)
            if self.stall:
                self.stopped.wait(60)  # reads nothing more
            self._echo(conn, rest)
        except OSError:
            pass
        finally:
            conn.close()

    def _echo(self, conn, data):
        while True:
            while True:
                at = data.find(b"\xff\xffss")
                if at < 0 or len(data) < at + 12:
                    break
                rows, cols = int.from_bytes(data[at + 4:at + 6], "big"), \
                    int.from_bytes(data[at + 6:at + 8], "big")
                conn.sendall(data[:at] + b"window %dx%d\r\n" % (rows, cols))
                data = data[at + 12:]
            if b"\xff" not in data:
                if b"open" in data:  # a sequence left open a while, then a character cut in two
                    conn.sendall(b"\x1b[3")
                    time.sleep(0.8)  # under the front door's second of patience
                    conn.sendall(b"1m\xe2\x82")
                    time.sleep(0.8)
                    conn.sendall(b"\xac done\r\n")
                    data = b""
                    continue
                if b"bye" in data:
                    conn.sendall(data + b"\r\nleaving\r\n")
                    return
                conn.sendall(data)
                data = b""
            got = conn.recv(4096)
            if not got:
                return
            data += got

    def stop(self):
        self.stopped.set()
        try:
            self.sock.shutdown(socket.SHUT_RDWR)  # wakes the accept, which close alone does not
        except OSError:
            pass
        self.sock.close()
        for c in self.conns:
            c.close()


def _inetd(argv_for):
    """An inetd of one service on a free loopback port: each connection
    handed to a new process as its standard input and output."""
    sock = socket.socket()
    sock.bind(("127.0.0.1", 0))
    sock.listen(16)
    procs = []

    def serve():
        while True:
            try:
                conn, _ = sock.accept()
            except OSError:
                return
            procs.append(subprocess.Popen(argv_for(), stdin=conn.fileno(), stdout=conn.fileno(),
                                          stderr=subprocess.DEVNULL, start_new_session=True))
            conn.close()

    threading.Thread(target=serve, daemon=True).start()

    def stop():
        try:
            sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        sock.close()
        for p in procs:
            if p.poll() is None:
                os.killpg(p.pid, signal.SIGKILL)
            p.wait()

    return sock.getsockname()[1], stop, procs


SHELL = """#!/bin/sh
# What the board behind was given, then an echo: `size` tells the window again.
echo "user=$(id -un) term=$TERM size=$(stty size 2>/dev/null)"
while IFS= read -r line; do
  [ "$line" = size ] && { echo "size=$(stty size)"; continue; }
  [ "$line" = bye ] && exit 0
  echo "got:$line"
done
"""


class ThrowawayUser:
    """A user of this machine for in.rlogind to log on, whose shell is the
    script above and whose .rhosts trusts the front door's CALLER from
    loopback; removed by stop()."""

    def __init__(self, directory, caller):
        self.name = "zgd%d" % os.getpid()
        home = os.path.join(directory, "home")
        os.makedirs(home)
        self.shell = os.path.join(directory, "shell.sh")
        with open(self.shell, "w") as f:
            f.write(SHELL)
        os.chmod(self.shell, 0o755)
        os.chmod(directory, 0o755)
        subprocess.run(["useradd", "-M", "-d", home, "-s", self.shell, self.name], check=True)
        rhosts = os.path.join(home, ".rhosts")
        with open(rhosts, "w") as f:
            f.write("localhost %s\n127.0.0.1 %s\n" % (caller, caller))
        subprocess.run(["chown", "-R", self.name, home], check=True)
        os.chmod(rhosts, 0o600)

    def stop(self):
        subprocess.run(["userdel", self.name], check=False)


def rlogind():
    """Debian's in.rlogind (rsh-redone-server), as inetd runs it."""
    return _inetd(lambda: ["/usr/sbin/in.rlogind"])


def telnetd(directory):
    """Debian's inetutils-telnetd running the shell script in place of
    login; its option log (-Doptions, under /run/telnet) shows what the
    client offered, USER among it."""
    shell = os.path.join(directory, "shell.sh")
    with open(shell, "w") as f:
        f.write(SHELL)
    os.chmod(shell, 0o755)
    os.makedirs("/run/telnet", exist_ok=True)
    return _inetd(lambda: ["/usr/sbin/telnetd", "-h", "-Doptions", "--accept-env=USER",
                           "--exec-login=" + shell])


class TinyMux:
    """Debian's tinymux: a fresh game in DIRECTORY on a free port, its
    sample database, stopped by stop()."""

    def __init__(self, directory):
        subprocess.run(["/usr/games/tinymux-install"], cwd=directory, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        game = os.path.join(directory, "tinymux", "game")
        probe = socket.socket()
        probe.bind(("127.0.0.1", 0))
        self.port = probe.getsockname()[1]
        probe.close()
        conf = os.path.join(game, "netmux.conf")
        with open(conf) as f:
            text = f.read()
        with open(conf, "w") as f:
            f.write(text.replace("\nport 2860", "\nport %d" % self.port))
        env = dict(os.environ, LD_LIBRARY_PATH="./bin")
        self.proc = subprocess.Popen(["./bin/netmux", "-c", "netmux.conf", "-p", "netmux.pid",
                                      "-e", "."], cwd=game, env=env, start_new_session=True,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.2)
        self.stop()
        raise AssertionError("tinymux did not listen on %d" % self.port)

    def stop(self):
        try:
            os.killpg(self.proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        self.proc.wait()
