#!/usr/bin/env python3
"""A forwarding TCP proxy on 127.0.0.1 that behaves like a distant server: every chunk is
delayed by DELAY seconds in each direction (so a request and its answer take one round trip
of 2 x DELAY), and a new connection waits one more round trip before its first byte, as a
TCP handshake across the network would. The kernel here has no netem, so this stands in.

Usage: slow_proxy.py DELAY LISTEN_PORT:TARGET_PORT [LISTEN_PORT:TARGET_PORT ...]
Prints "ready" once every port listens; runs until killed.
"""
import asyncio
import sys

DELAY = float(sys.argv[1])


async def pump(reader, writer):
    """Copies one direction, each chunk arriving DELAY seconds after it was read, in order."""
    queue = asyncio.Queue()
    loop = asyncio.get_running_loop()

    async def deliver():
        while True:
            due, data = await queue.get()
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            if data is None:
                break
            writer.write(data)
            await writer.drain()
        try:
            writer.write_eof()
        except (OSError, RuntimeError):
            pass

    sender = asyncio.create_task(deliver())
    try:
        while True:
            data = await reader.read(65536)
            await queue.put((loop.time() + DELAY, data or None))
            if not data:
                break
    except (ConnectionError, OSError):
        await queue.put((loop.time(), None))
    try:
        await sender
    except (ConnectionError, OSError):
        pass


def handler(target):
    async def handle(client_reader, client_writer):
        await asyncio.sleep(2 * DELAY)  # the handshake's round trip
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(pump(client_reader, server_writer),
                             pump(server_reader, client_writer), return_exceptions=True)
        for w in (client_writer, server_writer):
            w.close()
    return handle


async def main():
    servers = []
    for pair in sys.argv[2:]:
        listen, target = (int(p) for p in pair.split(":"))
        servers.append(await asyncio.start_server(handler(target), "127.0.0.1", listen,
                                                  backlog=256))
    print("ready", flush=True)
    await asyncio.gather(*(s.serve_forever() for s in servers))


asyncio.run(main())
