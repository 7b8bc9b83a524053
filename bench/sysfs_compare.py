"""Zorvek's scan over the Linux video4linux devices, beside the bare reader of the same files (the
floor), over fake devices.

    umockdev-wrapper /usr/bin/python3 bench/sysfs_compare.py --bench-sysfs build/bench/bench/bench_sysfs \
        --out sysfs.json

Runs under umockdev (Debian's python3 with its gi bindings): a testbed of --nodes video4linux nodes,
two per USB camera as a UVC camera has them (video capture, then metadata), every other camera of the
target model, made with the Linux source tests' fake devices. Their VIDIOC_QUERYCAP answers come from
a handler in this process, on a thread that needs the interpreter's lock, so the benchmark program
runs in a child process while this one waits. The child inherits the testbed through the
environment (LD_PRELOAD and UMOCKDEV_DIR).

The native benchmark runs --rounds times, and the results keep each round's numbers. The package
zorvekcam and the peers are compared over fake devices by bench/listing_compare.py.
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile

from fake_cameras import TARGET, models, nodes_of, plug, testbed, write_result


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
    parser.add_argument("--out", required=True)
    parser.add_argument("--nodes", type=int, default=64)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()

    bench = testbed("sysfs_compare")
    kinds = models(args.nodes // 2, "half")
    plug(bench, 0, kinds)
    result = {
        "nodes": args.nodes,
        "cameras": len(kinds),
        "capture_nodes": nodes_of(range(len(kinds)))[::2],
        "target_cameras": kinds.count(TARGET),
        "rounds": [],
    }

    with tempfile.TemporaryDirectory() as work:
        out = os.path.join(work, "out.json")
        for _ in range(args.rounds):
            run([args.bench_sysfs, f"--benchmark_out={out}", "--benchmark_out_format=json", "--benchmark_min_time=0.3"])
            result["rounds"].append({"native": read(out)})
            print(f"sysfs_compare: round {len(result['rounds'])} of {args.rounds} done", file=sys.stderr)

    write_result(bench, "sysfs_compare", result, args.out)


if __name__ == "__main__":
    main()
