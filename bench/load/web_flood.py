#!/usr/bin/env python3
"""Bad requests at a steady rate against the web console, for the flood benchmark.

    web_flood.py PORT|decoy [--rate 1000] [--duration 60] [--host 127.0.0.1]

Each request comes on a connection of its own and is one of: no token, a wrong token, a
20 KiB header. Prints how many were sent and how they were answered (status, or "closed"
when the server closed the connection first), as `RESULT key=value ...`.
"""
import argparse
import asyncio
import collections
import time

BAD = [
    b"GET /api/state HTTP/1.1\r\nHost: x\r\n\r\n",
    b"POST /api/command HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer wrong\r\n"
    b"Content-Length: 4\r\n\r\nexit",
    b"GET /metrics HTTP/1.1\r\nHost: x\r\nX-Padding: " + b"x" * 20000 + b"\r\n\r\n",
]


async def one(host, port, request, answers):
    try:
        reader, writer = await asyncio.open_connection(host, port)
        writer.write(request)
        await writer.drain()
        line = await asyncio.wait_for(reader.readline(), 5)
        answers[line.split(b" ")[1].decode() if line.startswith(b"HTTP/") else "closed"] += 1
        writer.close()
    except (OSError, asyncio.TimeoutError, IndexError):
        answers["closed"] += 1


async def flood(host, port, rate, duration):
    answers = collections.Counter()
    tasks = set()
    start = time.monotonic()
    sent = 0
    while time.monotonic() - start < duration:
        due = int((time.monotonic() - start) * rate)
        while sent < due:
            if len(tasks) < 512:  # what the flooder itself may hold open
                task = asyncio.create_task(one(host, port, BAD[sent % len(BAD)], answers))
                tasks.add(task)
                task.add_done_callback(tasks.discard)
            else:
                answers["skipped"] += 1
            sent += 1
        await asyncio.sleep(0.001)
    await asyncio.gather(*tasks, return_exceptions=True)
    return sent, answers, time.monotonic() - start


async def decoy(port_out):
    """A listener that answers every connection 429 and closes it, as a refused address's
    connections are answered: flooding it loads the machine as the real flood does, without
    the server doing the work."""
    async def answer(reader, writer):
        writer.write(b"HTTP/1.1 429 Too Many Requests\r\nContent-Length: 0\r\n\r\n")
        writer.close()

    server = await asyncio.start_server(answer, "127.0.0.1", 0)
    port_out.append(server.sockets[0].getsockname()[1])
    return server


async def flood_decoy(rate, duration):
    port = []
    server = await decoy(port)
    async with server:
        return await flood("127.0.0.1", port[0], rate, duration)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("port", help="the web console's port, or 'decoy' for a stand-in in this process")
    parser.add_argument("--rate", type=float, default=1000)
    parser.add_argument("--duration", type=float, default=60)
    parser.add_argument("--host", default="127.0.0.1")
    args = parser.parse_args()
    if args.port == "decoy":
        sent, answers, elapsed = asyncio.run(flood_decoy(args.rate, args.duration))
    else:
        sent, answers, elapsed = asyncio.run(flood(args.host, int(args.port), args.rate, args.duration))
    fields = " ".join(f"{k}={v}" for k, v in sorted(answers.items()))
    print(f"RESULT sent={sent} per_second={sent / elapsed:.0f} {fields}")


if __name__ == "__main__":
    main()
