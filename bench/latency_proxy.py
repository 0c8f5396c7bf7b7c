#!/usr/bin/env python3
"""A TCP proxy that adds a fixed one-way delay in each direction, keeps the
order of the bytes and does not limit bandwidth: a server on loopback then
looks as far away as a real one.

  latency_proxy.py TARGET_HOST TARGET_PORT ONE_WAY_MS [LISTEN_HOST]

Prints "port N" once it listens (on 127.0.0.1 unless told otherwise) and
serves until its standard input closes or it is terminated; then prints
"bytes N", what it passed from the server to its clients.
"""

import asyncio
import sys
import time

CHUNK = 256 * 1024
# Bytes passed on from the server, for the judge-once case.
passed = {"down": 0}


async def pump(reader, writer, delay, count=False):
    # Each chunk leaves `delay` seconds after it arrived; a reader task and a
    # writer task share a queue, so later chunks are not held up by earlier
    # ones beyond their own delay.
    queue = asyncio.Queue()

    async def read():
        try:
            while True:
                data = await reader.read(CHUNK)
                if count:
                    passed["down"] += len(data)
                queue.put_nowait((time.monotonic() + delay, data))
                if not data:
                    return
        except (ConnectionError, OSError):
            queue.put_nowait((time.monotonic() + delay, b""))

    async def write():
        try:
            while True:
                due, data = await queue.get()
                wait = due - time.monotonic()
                if wait > 0:
                    await asyncio.sleep(wait)
                if not data:
                    if writer.can_write_eof():
                        writer.write_eof()
                    return
                writer.write(data)
                await writer.drain()
        except (ConnectionError, OSError):
            pass

    await asyncio.gather(read(), write())


async def handle(client_reader, client_writer, target, delay):
    try:
        server_reader, server_writer = await asyncio.open_connection(*target)
    except OSError:
        client_writer.close()
        return
    await asyncio.gather(pump(client_reader, server_writer, delay),
                         pump(server_reader, client_writer, delay, True))
    for w in (client_writer, server_writer):
        w.close()


async def main(argv):
    if len(argv) not in (4, 5):
        print(__doc__, file=sys.stderr)
        return 2
    target = (argv[1], int(argv[2]))
    delay = float(argv[3]) / 1000.0
    listen = argv[4] if len(argv) == 5 else "127.0.0.1"
    server = await asyncio.start_server(
        lambda r, w: handle(r, w, target, delay), listen, 0)
    port = server.sockets[0].getsockname()[1]
    print(f"port {port}", flush=True)

    loop = asyncio.get_running_loop()
    stdin_closed = loop.create_future()

    def on_stdin():
        if not sys.stdin.buffer.read1(4096):
            loop.remove_reader(sys.stdin.fileno())
            if not stdin_closed.done():
                stdin_closed.set_result(None)

    loop.add_reader(sys.stdin.fileno(), on_stdin)
    async with server:
        await stdin_closed
    print(f"bytes {passed['down']}", flush=True)
    return 0


if __name__ == "__main__":
    try:
        sys.exit(asyncio.run(main(sys.argv)))
    except KeyboardInterrupt:
        sys.exit(0)
