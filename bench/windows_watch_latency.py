"""How soon a Windows watch reports a camera after the configuration manager's notice: watch(),
awatch() and `python -m zorvekcam --watch --json`, in Windows CPython under Wine with the tests' own
cfgmgr32.dll (scripts/test_windows.sh runs it after the tests, with their environment):

    python bench/windows_watch_latency.py [ROUNDS]

A camera is written into the registry, then announced; its latency runs from the stand-in's call of
the watch's callback (its log's time) to the event in hand (time.time(), the same system clock), and
holds the burst's quiet time and one walk, whose own time is given beside. Prints one line.
"""

import asyncio
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "windows"))
from standin_notices import Standin  # noqa: E402
from test_windows_python import Device, plug, target_path, unplug  # noqa: E402

import spawn  # noqa: E402  (tests/support, which test_windows_python puts on the path)

import zorvekcam  # noqa: E402


def called_at(standin: Standin, calls: int) -> float:
    """The time of the calls-th callback call in the log (from 1)."""
    log = standin.wait_for(lambda log: sum(line[3] == "call" for line in log) >= calls, f"{calls} calls")
    return float([line for line in log if line[3] == "call"][calls - 1][0])


def rounds_of(standin: Standin, rounds: int, next_event) -> list[float]:
    """Milliseconds from notice to event, for a camera plugged in and unplugged `rounds` times."""
    took = []
    for _ in range(rounds):
        for kind in ("arrival", "removal"):
            if kind == "arrival":
                plug(Device(target_path(1), "Cam B"), first=1)
            else:
                unplug("ZorvekTestDevice001")
            calls = standin.written + 1
            standin.announce(f"{kind} {target_path(1)}")
            received = next_event()
            took.append((received - called_at(standin, calls)) * 1000)
    return took


def sync_watch(standin: Standin, rounds: int) -> list[float]:
    events = zorvekcam.watch()
    next(events)
    try:
        return rounds_of(standin, rounds, lambda: (next(events), time.time())[1])
    finally:
        events.close()


def async_watch(standin: Standin, rounds: int) -> list[float]:
    loop = asyncio.new_event_loop()
    thread = threading.Thread(target=loop.run_forever, daemon=True)
    thread.start()
    events = zorvekcam.awatch()

    async def received():
        await events.__anext__()
        return time.time()

    def step():
        return asyncio.run_coroutine_threadsafe(received(), loop).result(60)

    try:
        step()
        return rounds_of(standin, rounds, step)
    finally:
        asyncio.run_coroutine_threadsafe(events.aclose(), loop).result(60)
        loop.call_soon_threadsafe(loop.stop)
        thread.join()
        loop.close()


def command_watch(standin: Standin, rounds: int) -> list[float]:
    child = spawn.popen(
        [sys.executable, "-m", "zorvekcam", "--watch", "--json"],
        stdin=subprocess.DEVNULL,
        stdout=subprocess.PIPE,
        stderr=subprocess.DEVNULL,
        text=True,
    )
    try:
        child.stdout.readline()
        return rounds_of(standin, rounds, lambda: (child.stdout.readline(), time.time())[1])
    finally:
        child.kill()
        child.communicate()


def shown(took: list[float]) -> str:
    return f"{statistics.median(took):.0f} ms ({min(took):.0f}-{max(took):.0f})"


def main() -> None:
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    unplug()
    plug(Device(target_path(0), "Cam A"))
    results = {}
    try:
        for name, measure in (("watch()", sync_watch), ("awatch()", async_watch), ("--watch --json", command_watch)):
            with tempfile.TemporaryDirectory() as folder:
                os.environ["ZORVEK_CFGMGR_DIR"] = folder
                results[name] = measure(Standin(Path(folder)), rounds)
        walks = []
        for _ in range(2 * rounds):
            started = time.perf_counter()
            zorvekcam.list_devices()
            walks.append((time.perf_counter() - started) * 1000)
    finally:
        unplug()
    print(
        f"notice to event, median (least-most) of {2 * rounds}: "
        + ", ".join(f"{name} {shown(took)}" for name, took in results.items())
        + f"; one walk alone {shown(walks)}"
    )


if __name__ == "__main__":
    main()
