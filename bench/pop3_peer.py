#!/usr/bin/env python3
"""The plain client the benchmarks compare with: Python's poplib over one
connection, doing the same POP3 exchanges as the program.

  pop3_peer.py warm HOST PORT USER PASSWORD      whole-mailbox UIDL and LIST
  pop3_peer.py scan HOST PORT USER PASSWORD      UIDL n, TOP n 0, LIST n, RETR n for every n
  pop3_peer.py exchanges HOST PORT USER PASSWORD UIDL n, LIST n, RETR n for every n (the scan's
                                                 exchanges without prefetching)
  pop3_peer.py rtt HOST PORT N                   median round trip of N CAPA commands (seconds)
  pop3_peer.py retr HOST PORT USER PASSWORD N    RETR N
  pop3_peer.py idle SECONDS                      a wait on a silent server of its own
  pop3_peer.py window HOST PORT USER PASSWORD W  one UIDL and one LIST, then every RETR
                                                 with at most W outstanding (0: all at once)
  pop3_peer.py tail HOST PORT USER PASSWORD N    STAT, one UIDL and one LIST, then RETR for the
                                                 last N messages only, all at once (a client
                                                 that knows which messages are new)

Each prints one line "result key=value ..." (times measured inside, so the
interpreter's start-up is not counted).
"""

import poplib
import socket
import sys
import time


def result(**values):
    print("result " + " ".join(f"{k}={v:.6f}" for k, v in values.items()), flush=True)


def login(host, port, user, password):
    box = poplib.POP3(host, int(port), timeout=60)
    box.user(user)
    box.pass_(password)
    return box


def warm(host, port, user, password):
    start = time.perf_counter()
    box = login(host, port, user, password)
    count, _ = box.stat()
    box.uidl()
    box.list()
    box.quit()
    result(seconds=time.perf_counter() - start, messages=count)


def scan(host, port, user, password):
    start = time.perf_counter()
    box = login(host, port, user, password)
    count, _ = box.stat()
    size = 0
    for n in range(1, count + 1):
        box.uidl(n)
        box.top(n, 0)
        box.list(n)
        _, lines, octets = box.retr(n)
        size += octets
    box.quit()
    result(seconds=time.perf_counter() - start, messages=count, bytes=size)


def exchanges(host, port, user, password):
    start = time.perf_counter()
    box = login(host, port, user, password)
    count, _ = box.stat()
    size = 0
    for n in range(1, count + 1):
        box.uidl(n)
        box.list(n)
        _, lines, octets = box.retr(n)
        size += octets
    box.quit()
    result(seconds=time.perf_counter() - start, messages=count, bytes=size)


def rtt(host, port, count):
    box = poplib.POP3(host, int(port), timeout=60)
    times = []
    for _ in range(int(count)):
        start = time.perf_counter()
        box.capa()
        times.append(time.perf_counter() - start)
    box.quit()
    times.sort()
    result(seconds=times[len(times) // 2])


def retr(host, port, user, password, number):
    box = login(host, port, user, password)
    start = time.perf_counter()
    _, lines, octets = box.retr(int(number))
    seconds = time.perf_counter() - start
    box.quit()
    result(seconds=seconds, bytes=octets)


class Pipeline:
    """A raw POP3 session that can have several commands in flight."""

    def __init__(self, host, port):
        self.sock = socket.create_connection((host, int(port)), timeout=60)
        self.buffer = bytearray()
        self.line()  # greeting

    def send(self, command):
        self.sock.sendall(command.encode() + b"\r\n")

    def login(self, user, password):
        self.send(f"USER {user}")
        self.line()
        self.send(f"PASS {password}")
        self.line()

    def fill(self):
        data = self.sock.recv(1 << 20)
        if not data:
            raise EOFError("connection closed")
        self.buffer += data

    def line(self):
        while True:
            end = self.buffer.find(b"\r\n")
            if end >= 0:
                line = bytes(self.buffer[:end])
                del self.buffer[:end + 2]
                if not line.startswith(b"+OK"):
                    raise RuntimeError(line.decode(errors="replace"))
                return line
            self.fill()

    def multiline(self):
        self.line()
        start = 0
        while True:
            if self.buffer.startswith(b".\r\n"):
                del self.buffer[:3]
                return b""
            end = self.buffer.find(b"\r\n.\r\n", start)
            if end >= 0:
                body = bytes(self.buffer[:end])
                del self.buffer[:end + 5]
                return body
            start = max(0, len(self.buffer) - 4)
            self.fill()


def window(host, port, user, password, width):
    width = int(width)
    cpu = time.process_time()
    start = time.perf_counter()
    box = Pipeline(host, port)
    box.login(user, password)
    box.send("UIDL")
    box.multiline()
    box.send("LIST")
    count = len(box.multiline().splitlines())
    size = 0
    sent = 0
    for n in range(1, count + 1):
        while sent < count and (width == 0 or sent - n + 1 < width):
            sent += 1
            box.send(f"RETR {sent}")
        size += len(box.multiline())
    box.send("QUIT")
    box.line()
    result(seconds=time.perf_counter() - start, messages=count, bytes=size, cpu_seconds=time.process_time() - cpu)


def tail(host, port, user, password, last):
    start = time.perf_counter()
    box = Pipeline(host, port)
    box.login(user, password)
    box.send("STAT")
    count = int(box.line().split()[1])
    box.send("UIDL")
    box.send("LIST")
    box.multiline()
    box.multiline()
    first = max(1, count - int(last) + 1)
    for n in range(first, count + 1):
        box.send(f"RETR {n}")
    size = sum(len(box.multiline()) for _ in range(first, count + 1))
    box.send("QUIT")
    box.line()
    result(seconds=time.perf_counter() - start, messages=count - first + 1, bytes=size)


def idle(seconds):
    server = socket.socket()
    server.bind(("127.0.0.1", 0))
    server.listen(1)
    port = server.getsockname()[1]
    cpu = time.process_time()
    start = time.perf_counter()
    try:
        poplib.POP3("127.0.0.1", port, timeout=float(seconds))
    except (socket.timeout, OSError):
        pass
    wall = time.perf_counter() - start
    result(cpu_seconds=time.process_time() - cpu, wall_seconds=wall)
    server.close()


def main(argv):
    modes = {"warm": (warm, 4), "scan": (scan, 4), "exchanges": (exchanges, 4), "retr": (retr, 5),
             "idle": (idle, 1), "window": (window, 5), "rtt": (rtt, 3), "tail": (tail, 5)}
    if len(argv) < 2 or argv[1] not in modes or len(argv) - 2 != modes[argv[1]][1]:
        print(__doc__, file=sys.stderr)
        return 2
    modes[argv[1]][0](*argv[2:])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
