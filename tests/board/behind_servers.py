"""Boards behind the front door for its tests: a scripted RLogin server
(RFC 1282, password-first or not, as the front door's fields make it) and
the real servers from Debian's packages (in.rlogind, inetutils-telnetd,
tinymux), each started by the test and stopped by it."""

import os
import socket
import threading


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
    each window message as `window ROWSxCOLS`. STALL stops reading the
    caller's keys; SILENT never answers the opening."""

    def __init__(self, silent=False, flood=0):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(16)
        self.port = self.sock.getsockname()[1]
        self.silent, self.flood = silent, flood
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
                conn.sendall(b"x" * self.flood)
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
        self.sock.close()
        for c in self.conns:
            c.close()
