"""Boards behind the front door for its tests: real servers from Debian's
packages and one scripted one, each on a free loopback port in a directory
of its own, stopped with everything it spawned when its `with` ends.

  Rlogind             Debian's in.rlogind logging on a throwaway user whose
                      shell is SHOW
  Telnetd             inetutils' telnetd running SHOW in place of login
  TinyMux             tinymux, a multi-user server, with characters made
  PasswordFirstRlogin an RLogin server that reads the start-up's first field
                      as a password and the second as the user-id

SHOW prints `user=... logname=... term=... args=...`, then `size ROWS COLS`
(again at each SIGWINCH), then echoes each line as `echo: LINE`."""

import ctypes
import glob
import os
import pwd
import re
import secrets
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "board"))
from client import Caller  # noqa: E402

SHOW = r"""#!/usr/bin/python3 -I
import fcntl, os, signal, struct, sys, termios
def say(text):
    os.write(1, text.encode() + b"\n")  # the pty sends CR LF
def size(*_):  # Python runs it at once; bash would wait for the read to end
    say("size %d %d" % struct.unpack("2H", fcntl.ioctl(0, termios.TIOCGWINSZ, bytes(4))[:4]))
signal.signal(signal.SIGWINCH, size)
say("user=%s logname=%s term=%s args=%s" % (*(os.environ.get(k, "") for k in ("USER", "LOGNAME", "TERM")),
                                             " ".join(sys.argv[1:])))
size()
for line in sys.stdin:
    say("echo: " + line.rstrip("\r\n"))
"""

# A run killed before its stop() leaves what the next run's sweep finds
# by the killed run's pid: in its processes' environment, in its
# throwaway users' GECOS, in its directories' file "owner".
MARK = "ZORGAVAL_BEHIND_SERVERS"
OWNER = "zorgaval behind-servers pid %d"
ENV = {"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", MARK: str(os.getpid())}
_libc = ctypes.CDLL(None, use_errno=True)


class Skip(Exception):
    """This machine cannot run the server: the reason."""


def _die_with_parent():
    _libc.prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG: gone if the test is killed


def _program(path, package):
    if not os.access(path, os.X_OK):
        raise Skip("%s is missing: install %s (make packages)" % (path, package))
    return path


def _need_root(what):
    if os.geteuid() != 0:
        raise Skip("%s runs as root to log a user on; this is uid %d" % (what, os.geteuid()))


def process_tree(roots):
    """ROOTS and every live process below them. A daemon's log-on moves
    to a session of its own, so a process group would not hold it all."""
    parent = {}
    for p in os.listdir("/proc"):
        try:
            with open("/proc/%s/stat" % p) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            if fields[0] != "Z":
                parent[int(p)] = int(fields[1])
        except (OSError, ValueError, IndexError):
            pass
    found, todo = set(), [r for r in roots if r in parent]
    while todo:
        pid = todo.pop()
        if pid not in found:
            found.add(pid)
            todo += [c for c, pp in parent.items() if pp == pid]
    return found


def user_processes(uid):
    """The live processes running as UID."""
    found = set()
    for p in os.listdir("/proc"):
        try:
            with open("/proc/%s/status" % p) as f:
                status = f.read()
            if "\nState:\tZ" not in status and re.search(r"^Uid:\t%d\t" % uid, status, re.M):
                found.add(int(p))
        except (OSError, ValueError):
            pass
    return found


def _kill(pids):
    for pid in pids:
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


def _gone(pid):
    return not os.path.exists("/proc/%s" % pid)


def _sweep():
    """Kills the processes, removes the users and directories of runs that
    were killed themselves."""
    for p in os.listdir("/proc"):
        try:
            with open("/proc/%s/environ" % p, "rb") as f:
                m = re.search(rb"(?:^|\0)%s=(\d+)\0" % MARK.encode(), f.read())
        except OSError:
            continue
        if m and _gone(int(m.group(1))):
            _kill([int(p)])
    for pw in pwd.getpwall():
        m = re.fullmatch(OWNER.replace("%d", r"(\d+)"), pw.pw_gecos)
        if m and _gone(m.group(1)):
            _kill(user_processes(pw.pw_uid))
            subprocess.run(["userdel", "-f", pw.pw_name], capture_output=True)
    for d in glob.glob(os.path.join(tempfile.gettempdir(), "zorgaval-behind-*")):
        try:
            with open(os.path.join(d, "owner")) as f:
                owner = f.read()
        except OSError:
            continue
        if _gone(owner):
            shutil.rmtree(d, ignore_errors=True)


def _free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class _Served:
    """A directory of its own and the processes started for it."""

    def __init__(self, name):
        _sweep()
        self.dir = tempfile.mkdtemp(prefix="zorgaval-behind-%s." % name)
        os.chmod(self.dir, 0o755)  # a throwaway user reaches its home and shell
        with open(os.path.join(self.dir, "owner"), "w") as f:
            f.write(str(os.getpid()))
        self.procs = []
        self.listener = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def _started(self, start):
        """Runs START; a failure stops what it had started."""
        try:
            start()
        except BaseException:
            self.stop()
            raise

    def _listen(self, serve):
        """SERVE(connection) called for each connection on a free port."""
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.accepting = threading.Thread(target=self._accept, args=(serve,), daemon=True)
        self.accepting.start()

    def _accept(self, serve):
        while True:
            try:
                conn, _ = self.listener.accept()
            except OSError:  # the listener was shut
                return
            serve(conn)

    def _kill_all(self):
        # Killed before the accepting thread ends: a daemon it started dies
        # with it (PR_SET_PDEATHSIG follows the thread), and a dead daemon
        # no longer leads to what it started. Then those accepted meanwhile.
        _kill(process_tree([p.pid for p in self.procs]))
        if self.listener:
            self.listener.shutdown(socket.SHUT_RDWR)  # wakes accept()
            self.accepting.join(10)
            self.listener.close()
            self.listener = None
            _kill(process_tree([p.pid for p in self.procs]))
        for p in self.procs:
            p.wait()

    def stop(self):
        self._kill_all()
        shutil.rmtree(self.dir, ignore_errors=True)


class _Inetd(_Served):
    """A daemon run for each connection with the socket as its standard
    input, output and error, as inetd runs it."""

    def _spawn(self, argv, conn):
        with conn:
            self.procs.append(subprocess.Popen(argv, stdin=conn, stdout=conn, stderr=conn,
                                               env=ENV, preexec_fn=_die_with_parent))


class Rlogind(_Inetd):
    """Debian's in.rlogind (rsh-redone-server). It takes connections from
    source ports 512-1023 only, reads the start-up's first field as the
    remote (client) user and the second as the local account to log on,
    and runs /bin/login -f for that account once PAM's "rlogin" service
    passes: pam_rhosts there lets it in without a password when the
    account's ~/.rhosts (owned by it, writable by no one else) names the
    caller's host and the first field. The account is `self.user`, made
    here with a locked password and SHOW (or SCRIPT) as its shell; its
    ~/.rhosts trusts TRUSTED from localhost ("+": any remote user). Any
    other first field gets pam_unix's "Password: " prompt. The shell sees
    TERM as the third field up to its "/"; the first field reaches it in
    no way, only the trust shows it. The window size is asked for once
    logged on (the urgent 0x80 comes twice, from both sides of a fork)."""

    def __init__(self, script=SHOW, trusted="+"):
        _need_root("rlogind")
        daemon = _program("/usr/sbin/in.rlogind", "rsh-redone-server")
        super().__init__("rlogind")
        self.user = None
        self._started(lambda: self._start(daemon, script, trusted))

    def _start(self, daemon, script, trusted):
        shell, home = os.path.join(self.dir, "shell"), os.path.join(self.dir, "home")
        with open(shell, "w") as f:
            f.write(script)
        os.chmod(shell, 0o755)
        name = "zgdoor" + secrets.token_hex(3)
        subprocess.run(["useradd", "-M", "-d", home, "-s", shell, "-p", "*",
                        "-c", OWNER % os.getpid(), name], check=True, capture_output=True)
        self.user = name
        os.mkdir(home, 0o755)
        rhosts = os.path.join(home, ".rhosts")
        with open(rhosts, "w") as f:
            f.write("localhost %s\n" % trusted)
        os.chmod(rhosts, 0o600)
        for path in (home, rhosts):
            shutil.chown(path, name, name)
        self._listen(lambda conn: self._spawn([daemon], conn))

    def stop(self):
        self._kill_all()
        if self.user:
            uid = pwd.getpwnam(self.user).pw_uid
            deadline = time.monotonic() + 10
            while user_processes(uid) and time.monotonic() < deadline:
                _kill(user_processes(uid))
                time.sleep(0.05)
            subprocess.run(["userdel", "-f", self.user], check=True, capture_output=True)
            self.user = None
        super().stop()


class Telnetd(_Inetd):
    """inetutils' telnetd with `--exec-login=SCRIPT %U` in place of login,
    run as root. The client's NEW-ENVIRON USER reaches the script in its
    environment and as %U only because of --accept-env=USER: Debian's
    telnetd drops every variable a client offers unless it is listed.
    TERM is the client's TTYPE in lower case; NAWS sets the pty's size."""

    def __init__(self, script=SHOW):
        _need_root("telnetd")
        daemon = _program("/usr/sbin/telnetd", "inetutils-telnetd")
        super().__init__("telnetd")
        self._started(lambda: self._start(daemon, script))

    def _start(self, daemon, script):
        shell = os.path.join(self.dir, "shell")
        with open(shell, "w") as f:
            f.write(script)
        os.chmod(shell, 0o755)
        argv = [daemon, "--accept-env=USER", "--exec-login=%s %%U" % shell]
        self._listen(lambda conn: self._spawn(argv, conn))


class TinyMux(_Served):
    """tinymux's netmux in a game directory made by Debian's tinymux-install
    (its shipped database; `create NAME PASSWORD` at the connect screen
    makes a character), on 127.0.0.1 only. CHARACTERS, name to password,
    are made at start, so callers `connect NAME PASSWORD`; they meet in
    the room "Limbo", where `say hello` reaches the others as
    `NAME says, "hello"` and a caller leaving as `NAME has disconnected.`"""

    def __init__(self, characters):
        _program("/usr/games/tinymux-install", "tinymux")
        super().__init__("tinymux")
        self.characters = dict(characters)
        self._started(self._start)

    def _start(self):
        subprocess.run(["/usr/games/tinymux-install"], cwd=self.dir, check=True, capture_output=True)
        game = os.path.join(self.dir, "tinymux", "game")
        conf = os.path.join(game, "netmux.conf")
        self.port = _free_port()
        with open(conf) as f:
            text = re.sub(r"(?m)^port \d+$", "port %d" % self.port, f.read())
        with open(conf, "w") as f:
            f.write(text + "ip_address 127.0.0.1\n")
        self.log = os.path.join(game, "netmux.log")
        with open(self.log, "wb") as log:
            self.procs.append(subprocess.Popen(
                ["bin/netmux", "-c", "netmux.conf", "-p", "netmux.pid", "-e", "-"], cwd=game,
                env=dict(ENV, LD_LIBRARY_PATH="bin"), stdout=log, stderr=log,
                start_new_session=True, preexec_fn=_die_with_parent))
        for name, password in self.characters.items():
            c = self.connect()
            c.send("create %s %s" % (name, password))
            c.expect("Limbo", 20)
            c.send("QUIT")
            assert c.closed(), "tinymux kept %s's connection after QUIT" % name
            c.close()

    def connect(self, timeout=30):
        """A telnet caller at the connect screen, once netmux listens."""
        deadline = time.monotonic() + timeout
        while True:
            try:
                c = Caller(self.port)
                break
            except ConnectionRefusedError:
                if time.monotonic() > deadline or self.procs[0].poll() is not None:
                    with open(self.log, errors="replace") as f:
                        raise AssertionError("tinymux did not listen: " + f.read()[-2000:])
                time.sleep(0.1)
        c.expect('"connect <name> <password>"', 20)
        return c


class PasswordFirstRlogin(_Served):
    """An RLogin server that reads the start-up as some boards do: the
    first field a password, the second the user-id, logging on unchecked.
    It answers the start-up's NUL, says `password=P user-id=U terminal=T
    port=SOURCE-PORT`, asks for the window size (urgent 0x80), says each
    window message as `window ROWS COLS XPIXEL YPIXEL`, and echoes each
    line as `echo: LINE`. `startups` holds each (first, second, terminal)."""

    def __init__(self):
        super().__init__("pwfirst")
        self.startups, self.conns = [], []
        self._started(lambda: self._listen(self._serve_in_thread))

    def _serve_in_thread(self, conn):
        self.conns.append(conn)
        threading.Thread(target=self._serve, args=(conn,), daemon=True).start()

    def _serve(self, conn):
        try:
            data = b""
            while data.count(b"\0") < 4:
                got = conn.recv(1024)
                if not got:
                    return
                data += got
            _, first, second, term, data = data.split(b"\0", 4)
            self.startups.append((first.decode(), second.decode(), term.decode()))
            conn.sendall(b"\0password=%s user-id=%s terminal=%s port=%d\r\n"
                         % (first, second, term, conn.getpeername()[1]))
            conn.send(b"\x80", socket.MSG_OOB)
            line = b""
            while True:
                while b"\xff\xffss" in data and len(data) >= data.index(b"\xff\xffss") + 12:
                    at = data.index(b"\xff\xffss")
                    conn.sendall(b"window %d %d %d %d\r\n" % struct.unpack(">4H", data[at + 4:at + 12]))
                    data = data[:at] + data[at + 12:]
                if b"\xff" not in data:  # what may start a window message waits for the rest
                    line, data = line + data, b""
                    while re.search(b"[\r\n]", line):
                        said, line = re.split(b"\r\n|\r|\n", line, maxsplit=1)
                        conn.sendall(b"echo: %s\r\n" % said)
                got = conn.recv(1024)
                if not got:
                    return
                data += got
        except OSError:
            return
        finally:
            conn.close()

    def stop(self):
        self._kill_all()
        for conn in self.conns:
            try:
                conn.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        super().stop()
