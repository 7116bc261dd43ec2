#!/usr/bin/env python3
"""A TCP proxy on loopback that holds every chunk for DELAY ms in each
direction, keeping byte order and never holding back pipelined data behind
a reply: a round trip of twice DELAY on a machine without netem.

    bench/delay_proxy.py TARGET_PORT DELAY_MS PORT_FILE [SESSION_LOG]

Listens on a free port of 127.0.0.1 and writes its number to PORT_FILE.
With SESSION_LOG, appends one line per finished connection: the seconds from
accept to close, so a benchmark can time one session of several.
"""
import asyncio
import sys
import time

target, delay = int(sys.argv[1]), int(sys.argv[2]) / 1000.0
port_file = sys.argv[3]
session_log = sys.argv[4] if len(sys.argv) > 4 else None


async def pipe(reader, writer):
    queue = asyncio.Queue()

    async def take():
        while True:
            try:
                data = await reader.read(65536)
            except ConnectionError:
                data = b""
            await queue.put((time.monotonic() + delay, data))
            if not data:
                return

    async def give():
        while True:
            due, data = await queue.get()
            wait = due - time.monotonic()
            if wait > 0:
                await asyncio.sleep(wait)
            try:
                if not data:
                    writer.write_eof()
                    return
                writer.write(data)
                await writer.drain()
            except (ConnectionError, OSError):
                return

    await asyncio.gather(take(), give())


async def session(client_reader, client_writer):
    start = time.monotonic()
    try:
        server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target)
    except OSError:
        client_writer.close()
        return
    await asyncio.gather(pipe(client_reader, server_writer),
                         pipe(server_reader, client_writer), return_exceptions=True)
    for w in (client_writer, server_writer):
        w.close()
    if session_log:
        with open(session_log, "a") as log:
            log.write(f"{time.monotonic() - start:.4f}\n")


async def main():
    server = await asyncio.start_server(session, "127.0.0.1", 0)
    with open(port_file, "w") as f:
        f.write(str(server.sockets[0].getsockname()[1]))
    async with server:
        await server.serve_forever()


asyncio.run(main())
