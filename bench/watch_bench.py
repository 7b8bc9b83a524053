"""How soon zorvekcam.watch() reports a camera plugged in or unplugged, and what an idle watch costs,
over fake V4L2 cameras that umockdev announces with uevents.

    umockdev-wrapper /usr/bin/python3 bench/watch_bench.py --python .venv/bin/python --out watch.json

Runs under umockdev (Debian's python3 with its gi bindings), with the Linux source tests' fake
devices; the watch runs in a child process of the installed package (tests/linux/watch_child.py),
which stamps each event with time.monotonic(), a clock this process shares. A camera's latency runs
from just before the testbed adds (or removes) it, which sends its uevents, to the event's stamp.
Measured: --rounds cameras (a capture node and a metadata node each) plugged in and unplugged one at
a time; --idle seconds with nothing happening (nodes opened, walks made); eight cameras in one burst;
and awatch() in an asyncio program with a 10 ms timer while cameras come and go (its latest tick).
"""

import argparse
import json
import os
import queue
import signal
import statistics
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "linux"))
from fake_v4l2 import Bench, capture_node, metadata_node, usb_camera  # noqa: E402

CHILD = os.path.join(HERE, "..", "tests", "linux", "watch_child.py")


class Watcher:
    def __init__(self, python, mode):
        self.process = subprocess.Popen([python, CHILD, mode], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.lines = queue.Queue()
        threading.Thread(
            target=lambda: [self.lines.put(json.loads(line)) for line in self.process.stdout], daemon=True
        ).start()

    def next(self):
        return self.lines.get(timeout=30)

    def walks(self):
        self.process.send_signal(signal.SIGUSR1)
        return self.next()["walks"]

    def close(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=30)


def camera(port, first_node):
    return usb_camera(port, [capture_node(first_node), metadata_node(first_node + 1)], serial=port.encode())


def latencies(bench, watcher, rounds):
    """Seconds from plugging to the "added" event, and from unplugging to "removed", per round."""
    added, removed = [], []
    for _ in range(rounds):
        started = time.monotonic()
        device = bench.plug(camera("3-1", 20))
        event = watcher.next()
        assert event["kind"] == "added", event
        added.append(event["at"] - started)
        time.sleep(0.2)
        started = time.monotonic()
        bench.unplug(device)
        event = watcher.next()
        assert event["kind"] == "removed", event
        removed.append(event["at"] - started)
        time.sleep(0.2)
    return added, removed


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--python", required=True, help="the interpreter the package is installed into")
    parser.add_argument("--rounds", type=int, default=20)
    parser.add_argument("--idle", type=float, default=10.0)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()

    bench = Bench()
    bench.plug(camera("1-1", 0))  # there from the start: its "present" event says the watch is up
    result = {"rounds": args.rounds, "idle_s": args.idle}

    watcher = Watcher(args.python, "watch")
    try:
        assert watcher.next()["kind"] == "present"
        before = watcher.walks()
        bench.queries.reset()
        time.sleep(args.idle)
        result["idle_walks"] = watcher.walks() - before
        result["idle_nodes_opened"] = sum(bench.queries.asked.values())

        result["added_s"], result["removed_s"] = latencies(bench, watcher, args.rounds)

        before = watcher.walks()
        started = time.monotonic()
        hub = [bench.plug(camera(f"2-{i + 1}", 40 + 2 * i)) for i in range(8)]
        plugging = time.monotonic() - started
        events = [watcher.next() for _ in range(8)]
        result["burst_of_8"] = {
            "added": sum(e["kind"] == "added" for e in events),
            "plugging_s": plugging,
            "last_s": max(e["at"] for e in events) - started,
            "walks": watcher.walks() - before,
        }
        for device in hub:
            bench.unplug(device)
        for _ in range(8):
            watcher.next()
    finally:
        watcher.close()

    watcher = Watcher(args.python, "awatch")
    try:
        assert watcher.next()["kind"] == "present"
        latencies(bench, watcher, max(1, args.rounds // 2))
        watcher.process.stdin.write("stop\n")
        watcher.process.stdin.flush()
        ended = watcher.next()
        result["awatch"] = {"latest_tick_s": ended["late"] + 0.01, "threads": ended["threads"], "fds": ended["fds"]}
    finally:
        watcher.close()
    bench.unplug_all()

    with open(args.out, "w") as file:
        json.dump(result, file, indent=1)
    added, removed = statistics.median(result["added_s"]), statistics.median(result["removed_s"])
    print(
        f"watch: median latency added {added * 1e3:.1f} ms, removed {removed * 1e3:.1f} ms over {args.rounds}; "
        f"idle {args.idle:g} s: {result['idle_walks']} walks, {result['idle_nodes_opened']} nodes opened; "
        f"8 in one burst: {result['burst_of_8']}; awatch: {result['awatch']}",
        file=sys.stderr,
    )


if __name__ == "__main__":
    main()
