"""Delivery over WebSocket beside delivery over telnet, in one run: half
the callers on each, TALKERS of them (half on each) saying a line a second
stamped with the time, every other caller timing its arrival; then the
board's resident memory with 256 WebSocket callers at their prompt.

usage: web_bench.py BOARD ACCOUNTS-DIR PASSWORD [SECONDS] [TALKERS]
(ACCOUNTS-DIR holds load000..load255, as run-board-bench.sh makes them)"""

import argparse
import asyncio
import os
import re
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "board"))
import load  # noqa: E402

STAMP = re.compile(rb"<(\d+)>")


def p99(values):
    values = sorted(values)
    return values[min(len(values) - 1, int(len(values) * 0.99))] if values else float("nan")


async def listen(caller, until, got):
    """Times each stamped line CALLER reads until UNTIL (monotonic seconds)."""
    while time.monotonic() < until:
        try:
            await caller.read_some(max(0.01, until - time.monotonic()))
        except (asyncio.TimeoutError, ConnectionError):
            continue
        now = time.monotonic_ns()
        for m in STAMP.finditer(bytes(caller.text)):
            got.append((now - int(m.group(1))) / 1e6)
        caller.text = bytearray(caller.text[caller.text.rfind(b">") + 1:])


async def talk(caller, until, offset):
    await asyncio.sleep(offset)
    while time.monotonic() < until:
        caller.send(b"<%d>\r\n" % time.monotonic_ns())
        await asyncio.sleep(1.0)


async def delivery(dir, args):
    names = [f"load{i:03d}" for i in range(256)]
    b = load.Board(dir, "--channels", "256", "--web", "127.0.0.1:0", "--talk-rate", "10/5")
    try:
        telnet, web = [], []
        for i in range(0, 128, 8):
            telnet += await asyncio.gather(*[load.sign_on(b.port, u, args.password) for u in names[i:i + 8]])
            web += await asyncio.gather(*[load.sign_on(b.web, u, args.password, load.WsCaller)
                                          for u in names[128 + i:128 + i + 8]])
        for c in telnet + web:
            c.text.clear()
        until = time.monotonic() + args.seconds
        half = args.talkers // 2
        talkers = telnet[:half] + web[:half]
        got = {"telnet": [], "ws": []}
        tasks = [talk(c, until, i / len(talkers)) for i, c in enumerate(talkers)]
        tasks += [listen(c, until + 1, got["telnet"]) for c in telnet]
        tasks += [listen(c, until + 1, got["ws"]) for c in web]
        await asyncio.gather(*tasks)
        rss = b.rss_kb()
        return got, rss
    finally:
        b.stop()


async def memory(dir):
    b = load.Board(dir, "--channels", "256", "--web", "127.0.0.1:0", "--prompt-timeout", "600")
    try:
        base = b.rss_kb()
        await load.ws_in_eights(b.web, 256)
        await asyncio.sleep(0.5)
        return base, b.rss_kb()
    finally:
        b.stop()


async def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("board"), ap.add_argument("accounts"), ap.add_argument("password")
    ap.add_argument("seconds", nargs="?", type=int, default=10)
    ap.add_argument("talkers", nargs="?", type=int, default=256)
    args = ap.parse_args()
    args.password = args.password.encode()
    load.kit.EXE = argparse.Namespace(board=args.board, quick=True)  # the boards it starts
    with tempfile.TemporaryDirectory(prefix="web-bench-") as tmp:
        shutil.copytree(args.accounts, os.path.join(tmp, "a"))
        got, rss = await delivery(os.path.join(tmp, "a"), args)
        shutil.copytree(args.accounts, os.path.join(tmp, "b"))
        base, full = await memory(os.path.join(tmp, "b"))
    t, w = p99(got["telnet"]), p99(got["ws"])
    print(f"web: {args.talkers} talkers a line a second for {args.seconds} s to 128 telnet and 128 WebSocket callers")
    print(f"  telnet  p99 {t:7.2f} ms over {len(got['telnet'])} deliveries")
    print(f"  ws      p99 {w:7.2f} ms over {len(got['ws'])} deliveries (x{w / t:.2f} of telnet)")
    print(f"  board RSS {rss / 1024:.1f} MB during the run")
    print(f"  256 WebSocket callers at the prompt: RSS {base / 1024:.1f} -> {full / 1024:.1f} MB")
    return 0 if w <= 1.5 * t or w < 20 else 1


if __name__ == "__main__":
    sys.exit(asyncio.run(main()))
