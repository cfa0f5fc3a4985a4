#!/usr/bin/env python3
"""Bad requests at a steady rate against the web console, for the flood benchmark.

    web_flood.py PORT [--rate 1000] [--duration 60] [--host 127.0.0.1]

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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("port", type=int)
    parser.add_argument("--rate", type=float, default=1000)
    parser.add_argument("--duration", type=float, default=60)
    parser.add_argument("--host", default="127.0.0.1")
    args = parser.parse_args()
    sent, answers, elapsed = asyncio.run(flood(args.host, args.port, args.rate, args.duration))
    fields = " ".join(f"{k}={v}" for k, v in sorted(answers.items()))
    print(f"RESULT sent={sent} per_second={sent / elapsed:.0f} {fields}")


if __name__ == "__main__":
    main()
