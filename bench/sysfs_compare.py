"""The scan over the Linux video4linux devices, beside the bare reader of the same files (the floor)
and beside the Python packages a user would pick instead, all over the same fake devices.

    umockdev-wrapper /usr/bin/python3 bench/sysfs_compare.py --bench-sysfs build/bench/bench/bench_sysfs \
        --python .venv/bin/python --module build/bench/module/Zorvek...so --out sysfs.json

Runs under umockdev (Debian's python3 with its gi bindings): a testbed of --nodes video4linux nodes,
two per USB camera as a UVC camera has them (video capture, then metadata), every other camera of the
target model, made with the Linux source tests' fake devices. Their VIDIOC_QUERYCAP answers come from
a handler in this process, on a thread that needs the interpreter's lock, so everything measured
runs in child processes while this one waits. The children inherit the testbed through the
environment (LD_PRELOAD and UMOCKDEV_DIR).

The native benchmark and each peer run --rounds times, one after another in every round, and the
results keep each round's numbers, so that ratios can be taken within a round.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "linux"))
# The fake V4L2 devices of the Linux source's own tests: the same sysfs layout and QUERYCAP answers.
from fake_v4l2 import Bench, capture_node, metadata_node, usb_camera  # noqa: E402

TARGET = ("2560", "c0d6")
OTHER = ("046d", "0825")
PEERS = ["cv2-enumerate-cameras", "linuxpy", "pyudev"]


def plug_cameras(bench, nodes):
    """nodes // 2 USB cameras, each with a capture node and a metadata node; even ones the target
    model. Returns the capture nodes' device files."""
    capture = []
    for k in range(nodes // 2):
        vendor, product = TARGET if k % 2 == 0 else OTHER
        name = "Target Camera" if k % 2 == 0 else "Other Camera"
        bench.plug(usb_camera(f"1-{k + 1}", [capture_node(2 * k, name), metadata_node(2 * k + 1, name)],
                              vendor=vendor, product_id=product, product=name.encode()))
        capture.append(f"/dev/video{2 * k}")
    return capture


def queries_asked(bench):
    with bench.queries.lock:
        asked = sum(bench.queries.asked.values())
        bench.queries.asked.clear()
    return asked


def run(command):
    done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if done.returncode != 0:
        raise SystemExit(f"sysfs_compare: {' '.join(command)} failed:\n{done.stderr}")


def read(path):
    with open(path) as file:
        return json.load(file)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bench-sysfs", required=True, help="the native benchmark program")
    parser.add_argument("--python", required=True, help="the interpreter that has the peers installed")
    parser.add_argument("--module", required=True, help="the module file over the platform's devices")
    parser.add_argument("--out", required=True)
    parser.add_argument("--nodes", type=int, default=64)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--seconds", type=float, default=1.0, help="time per peer repeat")
    args = parser.parse_args()
    if "umockdev" not in os.environ.get("LD_PRELOAD", ""):
        raise SystemExit("sysfs_compare: run me under umockdev-wrapper")

    bench = Bench()
    capture = plug_cameras(bench, args.nodes)
    peers = os.path.join(HERE, "peers.py")
    result = {"nodes": args.nodes, "cameras": args.nodes // 2, "capture_nodes": capture,
              "target_cameras": (args.nodes // 2 + 1) // 2, "listed": {}, "queries_per_listing": {}, "rounds": []}

    with tempfile.TemporaryDirectory() as work:
        out = os.path.join(work, "out.json")
        tools = PEERS + ["zorvek"]

        def peer(tool, *extra):
            command = [args.python, peers, tool, "--out", out, "--module", args.module, *extra]
            run(command)
            return read(out)

        # What each tool lists, and how many VIDIOC_QUERYCAP one listing makes.
        for tool in tools:
            queries_asked(bench)
            result["listed"][tool] = peer(tool, "--list-only")["listed"]
            result["queries_per_listing"][tool] = queries_asked(bench)

        for _ in range(args.rounds):
            round_ = {}
            run([args.bench_sysfs, f"--benchmark_out={out}", "--benchmark_out_format=json",
                 "--benchmark_min_time=0.3"])
            round_["native"] = read(out)
            for tool in tools:
                round_[tool] = peer(tool, "--seconds", str(args.seconds))["seconds"]
            result["rounds"].append(round_)
            print(f"sysfs_compare: round {len(result['rounds'])} of {args.rounds} done", file=sys.stderr)

    if bench.queries.errors:
        raise SystemExit(f"sysfs_compare: the fake devices failed: {bench.queries.errors}")
    with open(args.out, "w") as file:
        json.dump(result, file, indent=1)


if __name__ == "__main__":
    main()
