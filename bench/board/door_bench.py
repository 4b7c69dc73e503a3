"""The front door's figures: a keystroke's echo through the front door
(telnet in, RLogin out) against the same keystroke sent to the board behind
directly, p50 and p99 in one interleaved run; the board's resident memory
with 256 carried callers; its CPU time per MB carried. The board behind is
an RLogin echo server in this process.

usage: door_bench.py BOARD ACCOUNTS-DIR PASSWORD [KEYSTROKES]
(ACCOUNTS-DIR holds load000..load255, as run-board-bench.sh makes them)"""

import asyncio
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

IAC = 255


async def echo_server():
    """An RLogin server that answers the opening and echoes every byte;
    FLOOD on a line of its own is answered with that many bytes."""
    async def call(reader, writer):
        try:
            await answer(reader, writer)
        except (asyncio.CancelledError, ConnectionError):
            pass  # the board gone at the end of the run

    async def answer(reader, writer):
        got = b""
        while got.count(b"\0") < 4:
            more = await reader.read(1024)
            if not more:
                return
            got += more
        writer.write(b"\0")
        while True:
            data = await reader.read(65536)
            if not data:
                break
            if data.startswith(b"FLOOD"):
                left = int(data[5:].split(b"\r")[0])
                while left > 0:
                    writer.write(b"f" * min(left, 1 << 20))
                    left -= 1 << 20
                    await writer.drain()
                continue
            writer.write(data)
            await writer.drain()
        writer.close()
    server = await asyncio.start_server(call, "127.0.0.1", 0, limit=1 << 20)
    return server, server.sockets[0].getsockname()[1]


def strip(data):
    out, i = bytearray(), 0
    while i < len(data):
        if data[i] != IAC:
            out.append(data[i])
            i += 1
        elif i + 1 < len(data) and data[i + 1] == IAC:
            out.append(IAC)
            i += 2
        else:
            i += 3 if i + 1 < len(data) and 251 <= data[i + 1] <= 254 else 2
    return bytes(out)


async def until(reader, wanted, seen=b""):
    while wanted not in strip(seen):
        more = await asyncio.wait_for(reader.read(65536), 60)
        if not more:
            raise ConnectionError("closed while waiting for %r" % wanted)
        seen += more
    return seen


async def carried(port, userid, password):
    reader, writer = await asyncio.open_connection("127.0.0.1", port)
    await until(reader, b"User-ID: ")
    writer.write(userid.encode() + b"\r\n")
    await until(reader, b"Password: ")
    writer.write(password.encode() + b"\r\n")
    await until(reader, b"Connecting you to the board...\r\n")
    return reader, writer


async def direct(port):
    reader, writer = await asyncio.open_connection("127.0.0.1", port)
    writer.write(b"\0bench\0bench\0xterm/38400\0")
    await reader.readexactly(1)
    return reader, writer


async def keystroke(reader, writer, key):
    started = time.perf_counter_ns()
    writer.write(key)
    got = b""
    while key not in got:
        got += await reader.read(64)
    return (time.perf_counter_ns() - started) / 1e6


def pct(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(len(values) * p))]


def resident_kb(pid):
    return int(re.search(r"VmRSS:\s+(\d+)", open("/proc/%d/status" % pid).read())[1])


def cpu_seconds(pid):
    fields = open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


async def main():
    program, accounts, password = sys.argv[1:4]
    strokes = int(sys.argv[4]) if len(sys.argv) > 4 else 2000
    server, behind = await echo_server()
    work = tempfile.mkdtemp(prefix="zorgaval-door-bench.")
    board = None
    try:
        shutil.copytree(accounts, os.path.join(work, "dir"))
        board = subprocess.Popen(
            [program, "--dir", os.path.join(work, "dir"), "--listen", "127.0.0.1:0",
             "--channels", "256", "--behind", "rlogin:127.0.0.1:%d" % behind],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        port = None
        while port is None:
            line = board.stderr.readline().decode()
            if not line:
                raise SystemExit("the board did not start")
            m = re.search(r"zorgaval-board: listening on 127\.0\.0\.1:(\d+)", line)
            port = int(m.group(1)) if m else None
        idle = resident_kb(board.pid)

        door = await carried(port, "load000", password)
        straight = await direct(behind)
        through, besides = [], []
        for i in range(strokes):  # interleaved, so both see the same machine
            key = bytes([ord("a") + i % 26])
            through.append(await keystroke(*door, key))
            besides.append(await keystroke(*straight, key))
        print("front door: a keystroke's echo over loopback, %d of each, interleaved" % strokes)
        for name, values in (("through the front door", through), ("to the board behind", besides)):
            print("  %-34s p50 %.3f ms  p99 %.3f ms" % (name, pct(values, 0.5), pct(values, 0.99)))
        print("  %-34s p50 %.3f ms  p99 %.3f ms" % (
            "added by the front door", pct(through, 0.5) - pct(besides, 0.5),
            pct(through, 0.99) - pct(besides, 0.99)))

        megabytes = 64
        cpu = cpu_seconds(board.pid)
        door[1].write(b"FLOOD%d\r" % (megabytes << 20))
        left = megabytes << 20
        while left > 0:
            left -= len(await door[0].read(1 << 20))
        per_mb = (cpu_seconds(board.pid) - cpu) / megabytes * 1000
        print("  %-34s %.2f ms of CPU per MB (%d MB to one caller)" % ("carrying", per_mb, megabytes))

        callers = [door]
        for n in range(1, 256):
            callers.append(await carried(port, "load%03d" % n, password))
        for reader, writer in callers:  # each carried and answered once
            await keystroke(reader, writer, b"z")
        print("  %-34s %d MB (%d kB; %d kB with none)" % (
            "resident memory, 256 carried", resident_kb(board.pid) // 1024,
            resident_kb(board.pid), idle))
        for _, writer in callers + [straight]:
            writer.close()
    finally:
        if board is not None:
            board.send_signal(signal.SIGTERM)
            board.wait(30)
        server.close()
        await asyncio.sleep(0.5)  # the echo server's calls see the board's close
        shutil.rmtree(work, ignore_errors=True)


asyncio.run(main())
