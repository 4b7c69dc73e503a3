"""A minimal WebSocket client for the board's tests, on the standard
library: the upgrade request, masked frames out, frames in (binary ones
kept as the caller's text, text ones as control messages)."""

import asyncio
import base64
import os
import struct


def frame(payload, opcode=2, fin=True, mask=True):
    """One client frame: masked, as a browser sends them."""
    head = bytes([(0x80 if fin else 0) | opcode])
    n = len(payload)
    bit = 0x80 if mask else 0
    if n < 126:
        head += bytes([bit | n])
    elif n < 1 << 16:
        head += bytes([bit | 126]) + struct.pack("!H", n)
    else:
        head += bytes([bit | 127]) + struct.pack("!Q", n)
    if not mask:
        return head + payload
    key = os.urandom(4)
    return head + key + bytes(b ^ key[i % 4] for i, b in enumerate(payload))


def upgrade_request(host, origin=None, path="/ws"):
    key = base64.b64encode(os.urandom(16)).decode()
    lines = [f"GET {path} HTTP/1.1", f"Host: {host}", "Upgrade: websocket", "Connection: Upgrade",
             f"Sec-WebSocket-Key: {key}", "Sec-WebSocket-Version: 13"]
    if origin:
        lines.append(f"Origin: {origin}")
    return ("\r\n".join(lines) + "\r\n\r\n").encode()


class Frames:
    """Parses the board's frames as bytes come: binary payloads to TEXT,
    text payloads to CONTROL; a close frame sets CLOSED."""

    def __init__(self):
        self.buf, self.text, self.control, self.closed = b"", bytearray(), [], False

    def feed(self, data):
        self.buf += data
        while len(self.buf) >= 2:
            opcode, n, at = self.buf[0] & 0x0F, self.buf[1] & 0x7F, 2
            if n == 126:
                if len(self.buf) < 4: return
                n, at = struct.unpack("!H", self.buf[2:4])[0], 4
            elif n == 127:
                if len(self.buf) < 10: return
                n, at = struct.unpack("!Q", self.buf[2:10])[0], 10
            if len(self.buf) < at + n:
                return
            payload, self.buf = self.buf[at:at + n], self.buf[at + n:]
            if opcode in (0, 2):
                self.text += payload
            elif opcode == 1:
                self.control.append(payload.decode())
            elif opcode == 8:
                self.closed = True


async def open_ws(port, origin=None, host=None, rcvbuf=None, tls=None):
    """Connects and upgrades; answers (reader, writer, status line, frames)."""
    import socket
    sock = socket.socket()
    if rcvbuf:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
    sock.setblocking(False)
    await asyncio.get_running_loop().sock_connect(sock, ("127.0.0.1", port))
    reader, writer = await asyncio.open_connection(sock=sock, limit=1 << 20, ssl=tls,
                                                   server_hostname="localhost" if tls else None)
    writer.write(upgrade_request(host or f"127.0.0.1:{port}", origin))
    head = await asyncio.wait_for(reader.readuntil(b"\r\n\r\n"), 10)
    return reader, writer, head.split(b"\r\n", 1)[0].decode(), Frames()
