#!/usr/bin/env python3
"""The plain client the benchmarks compare with: Python's poplib over one
connection, doing the same POP3 exchanges as the program.

  pop3_peer.py warm HOST PORT USER PASSWORD      whole-mailbox UIDL and LIST
  pop3_peer.py scan HOST PORT USER PASSWORD      UIDL n, TOP n 0, LIST n, RETR n for every n
  pop3_peer.py retr HOST PORT USER PASSWORD N    RETR N
  pop3_peer.py idle SECONDS                      a wait on a silent server of its own

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


def retr(host, port, user, password, number):
    box = login(host, port, user, password)
    start = time.perf_counter()
    _, lines, octets = box.retr(int(number))
    seconds = time.perf_counter() - start
    box.quit()
    result(seconds=seconds, bytes=octets)


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
    modes = {"warm": (warm, 4), "scan": (scan, 4), "retr": (retr, 5), "idle": (idle, 1)}
    if len(argv) < 2 or argv[1] not in modes or len(argv) - 2 != modes[argv[1]][1]:
        print(__doc__, file=sys.stderr)
        return 2
    modes[argv[1]][0](*argv[2:])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
