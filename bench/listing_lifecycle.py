"""zorvekcam.list_devices() over a process's life, with every camera of the target model: its first
listing, a repeated one with nothing changed and one after a camera was replugged, against the
peers' complete listings; the nodes each opens; and the nodes a watch's walk opens after a hotplug.

    umockdev-wrapper /usr/bin/python3 bench/listing_lifecycle.py --python .venv/bin/python --out lifecycle.json \\
        [--today DIR] [--udev-database]

Runs under umockdev with the fake devices of bench/listing_compare.py (two nodes per camera), what is
timed in the child bench/listings.py. At 1, 8 and 64 cameras, in one interleaved run, each round:
  1. the first listing of a new process (and, with --today, of a new process whose package comes
     from DIR first: an earlier build to hold this one against), which goes first turning;
  2. one camera replugged (unplugged and plugged back into its port, onto its nodes), then one
     listing in the child, whose listings before it learnt every other node;
  3. the repeated listing and every peer's complete listing, batched, their order turning.
With --udev-database (in a mount namespace whose /run is its own, as scripts/bench.sh runs it), also
the first listing of a new process while udev's database holds an entry for every node, as systemd
247 and later write them. Opens are counted in a pass of their own (listing_compare.py's counting handler), as is the watch:
zorvekcam.watch() (tests/linux/watch_child.py) is started over the cameras, and the opens of the walk
that follows one more camera's hotplug are counted.
"""

import argparse
import json
import os
import queue
import shutil
import subprocess
import sys
import threading

from fake_cameras import TARGET, OpensCounted, models, nodes_of, plug, testbed, udev_entry, write_result
from listing_compare import Child, answer_with

HERE = os.path.dirname(os.path.abspath(__file__))
WATCH_CHILD = os.path.join(HERE, "..", "tests", "linux", "watch_child.py")
PEERS = ("cv2-enumerate-cameras", "linuxpy", "pyudev")


def replug(bench, k):
    """Camera k out and back into its port, a new USB device on the same nodes."""
    device = next(d for d in bench.plugged if d.nodes[0].number == 2 * k)
    bench.unplug(device)
    plug(bench, k, [TARGET])


def counted(bench, child, args, cameras):
    """The opens of each listing, per node."""
    counting = OpensCounted(bench.queries)
    answer_with(bench, counting)
    try:
        counting.take()
        opens = {}
        first = child.ask(do="first")
        opens["first"] = counting.take()["opened"]
        if args.today:
            child.ask(do="first", today=args.today)
            opens["first_today"] = counting.take()["opened"]
        if args.udev_database:
            udev_database(bench, True)
            child.ask(do="first")
            opens["first_udev"] = counting.take()["opened"]
            udev_database(bench, False)
        child.ask(do="list", tool="zorvekcam")
        counting.take()
        child.ask(do="list", tool="zorvekcam")
        opens["repeated"] = counting.take()["opened"]
        replug(bench, cameras - 1)
        # A replugged node has a handler attached already: only the new answers are the base's.
        answer_with(bench, counting)
        counting.take()
        child.ask(do="list", tool="zorvekcam")
        opens["after_replug"] = counting.take()["opened"]
        for tool in PEERS:
            child.ask(do="list", tool=tool)
            opens[tool] = counting.take()["opened"]
        opens["watch_walk"] = watch_walk(bench, counting, args.python, cameras)
        return {"listed_first": first["listed"], "opened": opens}
    finally:
        answer_with(bench, bench.queries)


def watch_walk(bench, counting, python, cameras):
    """The opens of the watch's walk after one more camera is plugged in."""
    watcher = subprocess.Popen([python, WATCH_CHILD, "watch"], stdout=subprocess.PIPE, text=True)
    lines = queue.Queue()
    threading.Thread(target=lambda: [lines.put(line) for line in watcher.stdout], daemon=True).start()
    answering = bench.queries
    try:
        for _ in range(cameras):
            lines.get(timeout=60)
        counting.take()
        # The new nodes answer through the counting handler from their first open on.
        bench.queries = counting
        plug(bench, cameras, [TARGET])
        bench.queries = answering
        event = json.loads(lines.get(timeout=60))
        assert event["kind"] == "added", event
        return counting.take()["opened"]
    finally:
        bench.queries = answering
        watcher.terminate()
        watcher.wait()
        bench.unplug(bench.plugged[-1])


def udev_database(bench, on):
    """udev's database as systemd 247 and later leave it, an entry per node written as udev would
    after each was plugged in; or none at all."""
    shutil.rmtree("/run/udev", ignore_errors=True)
    if on:
        for device in bench.plugged:
            for node in device.nodes:
                udev_entry(node, ":capture:" if node.index == 0 else ":")


def timed_rounds(bench, child, args, cameras):
    rounds = []
    for r in range(args.rounds):
        firsts = (
            [("first", None, False)]
            + ([("first_today", args.today, False)] if args.today else [])
            + ([("first_udev", None, True)] if args.udev_database else [])
        )
        round_ = {}
        for name, today, database in firsts[r % len(firsts) :] + firsts[: r % len(firsts)]:
            udev_database(bench, database)
            round_[name] = child.ask(do="first", today=today)["first_s"]
            udev_database(bench, False)
        replug(bench, r % cameras)
        round_["after_replug"] = child.ask(do="once", tool="zorvekcam")
        round_ |= child.ask(do="rounds", rounds=1, batch=args.batch, first_turn=r)["rounds"][0]
        rounds.append(round_)
    return rounds


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--python", required=True, help="the interpreter that has zorvekcam and the peers installed")
    parser.add_argument("--out", required=True)
    parser.add_argument("--today", help="a folder holding another build of the package zorvekcam, to compare with")
    parser.add_argument(
        "--udev-database",
        action="store_true",
        help="also a first listing with udev's database; only with a /run of its own (bench.sh)",
    )
    parser.add_argument("--cameras", type=int, nargs="+", default=[1, 8, 64], help="ascending")
    parser.add_argument("--rounds", type=int, default=15)
    parser.add_argument("--batch", type=float, default=0.05, help="seconds per tool and round")
    args = parser.parse_args()
    if args.udev_database and os.environ.get("ZORVEK_BENCH_PRIVATE_RUN") != "1":
        raise SystemExit("listing_lifecycle: --udev-database writes /run/udev: only in a mount namespace of its own")

    bench = testbed("listing_lifecycle")
    child = Child(args.python)
    results = []
    plugged = 0
    for cameras in args.cameras:
        plug(bench, plugged, models(cameras - plugged, "target"))
        plugged = cameras
        print(f"listing_lifecycle: {cameras} cameras: opens, then {args.rounds} rounds", file=sys.stderr)
        result = {
            "cameras": cameras,
            "nodes": 2 * cameras,
            "replugged_nodes": nodes_of([cameras - 1]),
            "hotplugged_nodes": nodes_of([cameras]),
        } | counted(bench, child, args, cameras)
        result["rounds"] = timed_rounds(bench, child, args, cameras)
        results.append(result)
    child.close()
    write_result(bench, "listing_lifecycle", {"today": args.today, "at": results}, args.out)


if __name__ == "__main__":
    main()
