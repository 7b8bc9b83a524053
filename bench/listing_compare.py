"""zorvekcam's list_devices() over fake video4linux devices: against Zorvek's bare scan, beside a
counting thread, and against the complete listings of the peers a Python user would pick instead.

    umockdev-wrapper /usr/bin/python3 bench/listing_compare.py --python .venv/bin/python --out listing.json

Runs under umockdev (Debian's python3 with its gi bindings), with the Linux source tests' fake devices:
USB cameras of two nodes each, as a UVC camera has them (video capture, then metadata). Their
answers come from a handler in this process, on a thread that needs this interpreter's lock, so
what is measured runs in one child process (bench/listings.py, with the interpreter that has
zorvekcam and the peers installed), which inherits the testbed through the environment (LD_PRELOAD
and UMOCKDEV_DIR) and takes its commands one at a time while this process waits.

1. 8 cameras of the target model and 8 others, every other one a target: list_devices() and
   Zorvek.getDeviceCount(0) in turns; the opens of each camera's nodes by one call of each; a
   counting thread alone, beside a thread that lists in a loop, and beside the same loop in another
   process, in turns.
2. Then 1, 8 and 64 cameras, plugged one after another: list_devices() and each peer's complete
   listing, interleaved round by round, beside the bare cost of asking every node. First all of the
   target model, so that list_devices() must ask every node, the case that costs it most (the peers
   ask or read every node whatever its model); then 8 and 64 again, every other one a target.

Opens are counted by the fake devices' handler, and only while each tool lists once, apart from the
timed listings.
"""

import argparse
import json
import os
import subprocess
import sys
import time

from fake_cameras import TARGET, OpensCounted, models, nodes_of, plug, testbed, write_result

HERE = os.path.dirname(os.path.abspath(__file__))
PEERS = ("cv2-enumerate-cameras", "linuxpy", "pyudev")


def answer_with(bench, handler):
    for devnode in bench.queries.nodes:
        bench.testbed.detach_ioctl(devnode)
        assert bench.testbed.attach_ioctl(devnode, handler)


def opens_and_questions(bench, child, tools, groups):
    """One listing by each tool: what it listed, and its opens and VIDIOC_QUERYCAP per group of nodes."""
    counting = OpensCounted(bench.queries)
    answer_with(bench, counting)
    try:
        once = {}
        for tool in tools:
            counting.take()
            listed = child.ask(do="list", tool=tool)
            taken = counting.take()
            once[tool] = {
                "listed": listed,
                "counts": {
                    group: {kind: sum(taken[kind].get(node, 0) for node in nodes) for kind in ("opened", "asked")}
                    for group, nodes in groups.items()
                },
            }
        return once
    finally:
        answer_with(bench, bench.queries)


class Child:
    """bench/listings.py in a process of its own."""

    def __init__(self, python):
        self.process = subprocess.Popen(
            [python, os.path.join(HERE, "listings.py")], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True
        )

    def ask(self, **command):
        self.process.stdin.write(json.dumps(command) + "\n")
        self.process.stdin.flush()
        answer = self.process.stdout.readline()
        if not answer:
            raise SystemExit(f"listing_compare: the child ended (exit code {self.process.wait()}) at {command}")
        return json.loads(answer)

    def close(self):
        self.process.stdin.close()
        if self.process.wait(timeout=60) != 0:
            raise SystemExit("listing_compare: the child failed")


def groups(kinds):
    """The device files of the target cameras' nodes, and of the others'."""
    return {
        "target": nodes_of(k for k, kind in enumerate(kinds) if kind == TARGET),
        "other": nodes_of(k for k, kind in enumerate(kinds) if kind != TARGET),
    }


def mixed(bench, child, args):
    """8 cameras of the target model and 8 others, every other one a target."""
    kinds = models(16, "half")
    plug(bench, 0, kinds)
    result = {
        "targets": 8,
        "others": 8,
        "nodes": 32,
        "once": opens_and_questions(bench, child, ("zorvekcam", "Zorvek"), groups(kinds)),
    }
    print("listing_compare: 8 targets and 8 others: list_devices() and the bare scan in turns", file=sys.stderr)
    result["turns"] = child.ask(do="turns", iterations=args.turns)
    print("listing_compare: 8 targets and 8 others: the counting thread", file=sys.stderr)
    # This process only answers the fake devices meanwhile: its processor time is the handler's.
    handler0 = time.process_time()
    result["gil"] = child.ask(do="gil", times=args.gil_times, seconds=args.gil_seconds)
    result["gil"]["handler_on_cpu"] = time.process_time() - handler0
    bench.unplug_all()
    return result


def peers(bench, child, args, mix):
    """At each number of --cameras in turn, the cameras plugged one after another, every tool's complete
    listing in rounds. With every other camera a target, a single camera is one of the target model as
    in the other mix, and is left out."""
    results = []
    plugged = 0
    for cameras in args.cameras:
        if mix == "half" and cameras < 2:
            continue
        kinds = models(cameras, mix)
        plug(bench, plugged, kinds[plugged:])
        plugged = cameras
        once = opens_and_questions(bench, child, ("zorvekcam", *PEERS, "asks"), groups(kinds))
        print(
            f"listing_compare: {cameras} cameras ({kinds.count(TARGET)} targets): {args.rounds} rounds", file=sys.stderr
        )
        timed = child.ask(do="rounds", rounds=args.rounds, batch=args.batch)
        capture = nodes_of(range(cameras))[::2]
        results.append(
            {
                "cameras": cameras,
                "targets": kinds.count(TARGET),
                "nodes": 2 * cameras,
                "capture_nodes": capture,
                "once": once,
                "target_capture_nodes": [node for node, kind in zip(capture, kinds) if kind == TARGET],
            }
            | timed
        )
    bench.unplug_all()
    return results


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--python", required=True, help="the interpreter that has zorvekcam and the peers installed")
    parser.add_argument("--out", required=True)
    parser.add_argument("--cameras", type=int, nargs="+", default=[1, 8, 64], help="ascending")
    parser.add_argument(
        "--mix",
        choices=["target", "half"],
        nargs="+",
        default=["target", "half"],
        help="the peer comparison's cameras, in turn: all of the target model, every other one",
    )
    parser.add_argument("--rounds", type=int, default=21, help="rounds of the peer comparison at each number")
    parser.add_argument("--batch", type=float, default=0.1, help="seconds per tool and round")
    parser.add_argument("--turns", type=int, default=200, help="listings and scans in turns")
    parser.add_argument("--gil-times", type=int, default=8)
    parser.add_argument("--gil-seconds", type=float, default=1.0)
    args = parser.parse_args()

    bench = testbed("listing_compare")
    child = Child(args.python)
    result = {"mixed": mixed(bench, child, args), "peers": {mix: peers(bench, child, args, mix) for mix in args.mix}}
    child.close()
    write_result(bench, "listing_compare", result, args.out)


if __name__ == "__main__":
    main()
