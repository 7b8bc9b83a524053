"""Camera.modes() of one fake camera against linuxpy's reading of the same node (in process) and
v4l2-ctl --list-formats-ext (a process), and the opens and ioctls each makes; beside them the floor,
as many bare ioctls as one modes() makes on one open of the node.

    umockdev-wrapper /usr/bin/python3 bench/modes_compare.py --python .venv/bin/python --out modes.json

Runs under umockdev with the Linux tests' fake cameras of the target model, each on its own: one with
discrete sizes at discrete rates (the table a UVC camera gives), one with ranges of sizes and of
rates, one with FourCCs nobody knows (tests/linux/fake_v4l2.py). What is timed runs in one child
process (bench/mode_readings.py), whose ioctls this process answers; per camera, --rounds rounds,
each tool reading for about --batch seconds a round, the order turning from round to round. The
opens and ioctls are counted in one reading by each tool, apart from the timed ones.

Under umockdev every ioctl is a round trip to this process, which costs far more than a driver's
answer. So, last, the discrete camera's table is answered in the reading process itself by a
preloaded library (bench/v4l2_table_preload.c, built here with cc), and modes(), linuxpy and the
floor are timed again: what is left is each reader's own work.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile

from fake_cameras import OpensCounted, testbed, write_result

from fake_v4l2 import DISCRETE_MODES, RANGE_MODES, UNKNOWN_FOURCC_MODES, camera  # noqa: E402  (fake_cameras' path)

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = ("modes", "linuxpy", "v4l2-ctl", "floor")
CAMERAS = {
    "discrete modes": DISCRETE_MODES,
    "ranges of sizes and rates": RANGE_MODES,
    "unknown FourCCs": UNKNOWN_FOURCC_MODES,
}


class Child:
    def __init__(self, python, prefix=()):
        self.process = subprocess.Popen(
            [*prefix, python, os.path.join(HERE, "mode_readings.py")],
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            text=True,
        )

    def ask(self, **command):
        self.process.stdin.write(json.dumps(command) + "\n")
        self.process.stdin.flush()
        answer = self.process.stdout.readline()
        if not answer:
            raise SystemExit(f"modes_compare: the child ended (exit code {self.process.wait()}) at {command}")
        return json.loads(answer)

    def close(self):
        self.process.stdin.close()
        if self.process.wait(timeout=60) != 0:
            raise SystemExit("modes_compare: the child failed")


# The node bench/v4l2_table_preload.c answers; no such file exists.
TABLE_NODE = "/dev/zorvek-bench0"
IN_PROCESS = ("modes", "linuxpy", "floor")


def in_process(args):
    """The discrete camera's table answered in the reading process itself by a preloaded library, at
    the cost of a function call an ioctl: each reader's own work, without umockdev's round trips."""
    with tempfile.TemporaryDirectory() as folder:
        library = os.path.join(folder, "v4l2_table_preload.so")
        subprocess.run(
            ["cc", "-O2", "-shared", "-fPIC", "-o", library, os.path.join(HERE, "v4l2_table_preload.c"), "-ldl"],
            check=True,
        )
        # env(1): the testbed names itself in the C library's environment, which os.environ lacks.
        child = Child(
            args.python, ["env", "-u", "UMOCKDEV_DIR", f"LD_PRELOAD={library}", f"ZORVEK_BENCH_NODE={TABLE_NODE}"]
        )
        once, calls = {}, 0
        for tool in IN_PROCESS:  # modes first: its ioctls are the floor's
            once[tool] = child.ask(do="once", tool=tool, node=TABLE_NODE, calls=calls)
            calls = calls or once[tool]["answered"]
        rounds = args.rounds * 4  # each round is short
        times = child.ask(
            do="rounds", node=TABLE_NODE, calls=calls, rounds=rounds, batch=args.batch / 4, tools=IN_PROCESS
        )["wall"]
        child.close()
    return {
        "node": TABLE_NODE,
        "rounds": rounds,
        "once": once,
        "times": times,
        "median": {tool: statistics.median(times[tool]) for tool in IN_PROCESS},
        "ratio": {
            tool: statistics.median(m / t for m, t in zip(times["modes"], times[tool])) for tool in IN_PROCESS[1:]
        },
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--python", required=True, help="the interpreter that has zorvekcam and linuxpy installed")
    parser.add_argument("--out", required=True)
    parser.add_argument("--rounds", type=int, default=15)
    parser.add_argument("--batch", type=float, default=0.2, help="seconds per tool and round")
    args = parser.parse_args()

    bench = testbed("modes_compare")
    bench.queries = OpensCounted(bench.queries)
    child = Child(args.python)
    results = {}
    for number, (name, table) in enumerate(CAMERAS.items()):
        device = bench.plug(camera(f"1-{number + 1}", 2 * number, modes=table))
        node = device.nodes[0].devnode
        child.ask(do="once", tool="modes", node=node)  # the listing that finds the camera, not timed
        once, calls = {}, 0
        for tool in TOOLS:  # modes first: its ioctls are the floor's
            bench.queries.take()
            entries = child.ask(do="once", tool=tool, node=node, calls=calls)["entries"]
            taken = bench.queries.take()
            once[tool] = {"entries": entries, "opened": taken["opened"], "ioctls": sum(taken["asked"].values())}
            calls = calls or once[tool]["ioctls"]
        print(f"modes_compare: {name}: {args.rounds} rounds", file=sys.stderr)
        timed = child.ask(do="rounds", node=node, calls=calls, rounds=args.rounds, batch=args.batch)
        times = timed["wall"]
        ratios = {tool: statistics.median(m / t for m, t in zip(times["modes"], times[tool])) for tool in TOOLS[1:]}
        results[name] = {
            "node": node,
            "once": once,
            "times": times,
            "cpu": timed["cpu"],
            "median": {tool: statistics.median(times[tool]) for tool in TOOLS},
            "ratio": ratios,
        }
        bench.unplug(device)
    child.close()
    for name, result in results.items():
        once = result["once"]
        print(
            f"{name}: "
            + ", ".join(
                f"{tool} {result['median'][tool] * 1e3:.3f} ms ({once[tool]['opened']}, {once[tool]['ioctls']} ioctls)"
                for tool in TOOLS
            )
            + "; modes/linuxpy {:.2f}, modes/v4l2-ctl {:.3f}, modes/floor {:.2f}".format(
                *(result["ratio"][tool] for tool in TOOLS[1:])
            )
        )
    print(f"modes_compare: the discrete table answered in process: {args.rounds} rounds", file=sys.stderr)
    table = in_process(args)
    print(
        "answered in process: "
        + ", ".join(
            f"{tool} {table['median'][tool] * 1e6:.1f} µs ({table['once'][tool]['answered']} ioctls)"
            for tool in IN_PROCESS
        )
        + "; modes/linuxpy {:.3f}, modes/floor {:.2f}".format(table["ratio"]["linuxpy"], table["ratio"]["floor"])
    )
    results = {"umockdev": results, "in_process": table}
    write_result(bench, "modes_compare", results, args.out)


if __name__ == "__main__":
    main()
