"""Watches the cameras with the shipped package, for the umockdev tests and benchmarks:

    python watch_child.py watch     zorvekcam.watch(); ends at SIGTERM, tells the walks made so far at SIGUSR1
    python watch_child.py awatch    zorvekcam.awatch() in an asyncio program with a 10 ms timer, until
                                    "stop" on stdin cancels it

One JSON object a line on stdout: each event as {"kind", "node", "serial", "port", "at"} (`at`:
time.monotonic(), the same clock in every process), then at the end {"walks": listings made}; for
awatch instead "late" (the latest tick: seconds beyond the timer's 10 ms), and "threads" and "fds"
before the watch began and after it was cancelled.
"""

import asyncio
import contextlib
import json
import os
import signal
import sys
import threading
import time

import zorvekcam
from zorvekcam import _devices

walks = 0
_list_devices = _devices.list_devices


def counted_listing():
    global walks
    walks += 1
    return _list_devices()


_devices.list_devices = counted_listing


def emit(**fields):
    # One write per line, never through sys.stdout's buffer: SIGUSR1's handler emits too, and may run
    # while an event is being written, where print() would raise (a reentrant call).
    os.write(1, (json.dumps(fields) + "\n").encode())


def emit_event(event):
    camera = event.camera
    emit(kind=event.kind, node=camera.node, serial=camera.serial, port=camera.port, at=time.monotonic())


def resources():
    return threading.active_count(), len(os.listdir("/proc/self/fd"))


async def watch_asynchronously():
    loop = asyncio.get_running_loop()
    stopped = asyncio.Event()
    loop.add_reader(sys.stdin.fileno(), stopped.set)
    late = 0.0

    async def tick():
        nonlocal late
        while True:
            started = loop.time()
            await asyncio.sleep(0.01)
            late = max(late, loop.time() - started - 0.01)

    async def consume():
        async for event in zorvekcam.awatch():
            emit_event(event)

    ticker = asyncio.create_task(tick())
    await asyncio.sleep(0.05)
    threads, fds = resources()
    watcher = asyncio.create_task(consume())
    await stopped.wait()
    watcher.cancel()
    with contextlib.suppress(asyncio.CancelledError):
        await watcher
    after = resources()
    ticker.cancel()
    loop.remove_reader(sys.stdin.fileno())
    emit(late=late, threads=[threads, after[0]], fds=[fds, after[1]])


def main():
    if sys.argv[1] == "awatch":
        asyncio.run(watch_asynchronously())
        return
    signal.signal(signal.SIGTERM, lambda _signal, _frame: sys.exit(0))
    # Its handler runs while the watch waits for device events, which then waits on.
    signal.signal(signal.SIGUSR1, lambda _signal, _frame: emit(walks=walks))
    try:
        for event in zorvekcam.watch():
            emit_event(event)
    finally:
        emit(walks=walks)


main()
