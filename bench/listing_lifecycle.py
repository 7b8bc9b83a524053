"""zorvekcam.list_devices() over a process's life, with every camera of the target model: its first
listing, a repeated one with nothing changed and one after a camera was replugged, against the
peers' complete listings; the nodes each opens; and the nodes a watch's walk opens after a hotplug.

    umockdev-wrapper /usr/bin/python3 bench/listing_lifecycle.py --python .venv/bin/python --out lifecycle.json \\
        [--today DIR]

Runs under umockdev with the fake devices of bench/listing_compare.py (two nodes per camera), what is
timed in the child bench/listings.py. At 1, 8 and 64 cameras, in one interleaved run, each round:
  1. the first listing of a new process (and, with --today, of a new process whose package comes
     from DIR first: an earlier build to hold this one against), which goes first turning;
  2. one camera replugged (unplugged and plugged back into its port, onto its nodes), then one
     listing in the child, whose listings before it learnt every other node;
  3. the repeated listing and every peer's complete listing, batched, their order turning.
Opens are counted in a pass of their own (listing_compare.py's counting handler), as is the watch:
zorvekcam.watch() (tests/linux/watch_child.py) is started over the cameras, and the opens of the walk
that follows one more camera's hotplug are counted.
"""
import argparse
import json
import os
import queue
import subprocess
import sys
import threading

from fake_cameras import TARGET, OpensCounted, models, nodes_of, plug, testbed, write_result
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


def median(values):
    values = sorted(values)
    middle = len(values) // 2
    return values[middle] if len(values) % 2 else (values[middle - 1] + values[middle]) / 2


def ms(seconds):
    return f"{seconds * 1e3:.3g} ms"


def table(result):
    """The results as a Markdown table, medians of the rounds."""
    rows = ["| cameras (nodes) | listing | median | against pyudev's | nodes opened |", "|---|---|---|---|---|"]
    for at in result["at"]:
        def med(name):
            return median(r[name] for r in at["rounds"])

        def ratio(name):
            return median(r[name] / r["pyudev"] for r in at["rounds"])

        opened = at["opened"]
        names = [("first", "`list_devices()`, a new process's first", "first"),
                 ("first_today", "… the same, the build it is held against (--today)", "first_today"),
                 ("zorvekcam", "`list_devices()` repeated, nothing changed", "repeated"),
                 ("after_replug", "`list_devices()` after one camera was replugged", "after_replug"),
                 ("pyudev", "pyudev's complete listing (node, IDs)", "pyudev"),
                 ("linuxpy", "linuxpy's capture devices", "linuxpy"),
                 ("cv2-enumerate-cameras", "cv2-enumerate-cameras", "cv2-enumerate-cameras"),
                 ("asks", "every node opened and asked, nothing else", None)]
        for name, text, opens in names:
            if name not in at["rounds"][0]:
                continue
            count = "" if opens is None else str(sum(opened[opens].values()))
            rows.append(f"| {at['cameras']} ({at['nodes']}) | {text} | {ms(med(name))} | {ratio(name):.2f}× | {count} |")
        rows.append(f"| {at['cameras']} ({at['nodes']}) | a watch's walk after one camera's hotplug | | | "
                    f"{sum(opened['watch_walk'].values())} ({', '.join(sorted(opened['watch_walk'])) or 'none'}) |")
    return "\n".join(rows)


def timed_rounds(bench, child, args, cameras):
    rounds = []
    for r in range(args.rounds):
        firsts = [("first", None)] + ([("first_today", args.today)] if args.today else [])
        round_ = {}
        for name, today in (firsts if r % 2 == 0 else firsts[::-1]):
            round_[name] = child.ask(do="first", today=today)["first_s"]
        replug(bench, r % cameras)
        round_["after_replug"] = child.ask(do="once", tool="zorvekcam")
        round_ |= child.ask(do="rounds", rounds=1, batch=args.batch, start=r)["rounds"][0]
        rounds.append(round_)
    return rounds


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--python", required=True, help="the interpreter that has zorvekcam and the peers installed")
    parser.add_argument("--out", required=True)
    parser.add_argument("--today", help="a folder holding another build of the package zorvekcam, to compare with")
    parser.add_argument("--cameras", type=int, nargs="+", default=[1, 8, 64], help="ascending")
    parser.add_argument("--rounds", type=int, default=15)
    parser.add_argument("--batch", type=float, default=0.05, help="seconds per tool and round")
    args = parser.parse_args()

    bench = testbed("listing_lifecycle")
    child = Child(args.python)
    results = []
    plugged = 0
    for cameras in args.cameras:
        plug(bench, plugged, models(cameras - plugged, "target"))
        plugged = cameras
        print(f"listing_lifecycle: {cameras} cameras: opens, then {args.rounds} rounds", file=sys.stderr)
        result = {"cameras": cameras, "nodes": 2 * cameras, "replugged_nodes": nodes_of([cameras - 1]),
                  "hotplugged_nodes": nodes_of([cameras])} | counted(bench, child, args, cameras)
        result["rounds"] = timed_rounds(bench, child, args, cameras)
        results.append(result)
    child.close()
    write_result(bench, "listing_lifecycle", {"today": args.today, "at": results}, args.out)
    print(table({"at": results}))


if __name__ == "__main__":
    main()
