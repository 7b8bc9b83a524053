"""What Python adds: the time to import the module Zorvek and the package zorvekcam, and what a
getDeviceCount call costs from Python over the scripted devices that the native count benchmark
(bench/scan_bench.cpp) walks.

    python bench/python_bench.py --scripted-module <build>/scripted/Zorvek...so \
        --native-bench <build>/bench/bench_discovery --out python.json

The Python call and the native one run in turns, --rounds times, each in a fresh process; the
overhead is the median of the rounds' differences, so that a change of load on a shared machine
falls on both sides of each difference.

Run it with the interpreter whose environment holds the installed modules: the imports are timed on
that one, in fresh interpreters started outside the source tree, as a user's script meets them.
"""

import argparse
import ctypes
import importlib.util
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time
import timeit

from import_time import import_milliseconds  # beside this file

# The one scripted device of the native count benchmark: a target camera, the first of its script.
TARGET_PATH = r"\\?\usb#vid_2560&pid_c0d6&mi_00#6&1a2b0000&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\global"
LAST_WALK = 2**31 - 1


def load_scripted(path):
    found = importlib.util.spec_from_file_location("Zorvek", path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def count_call_seconds(module_path, repeats):
    """Seconds per Zorvek.getDeviceCount(0) over one scripted target camera: medians of `repeats`."""
    zorvek = load_scripted(module_path)
    script = ctypes.CDLL(module_path)
    script.scripted_reset(0, 0, 0)
    script.scripted_add_device(TARGET_PATH.encode(), b"Target Camera", 0, 0, 0, LAST_WALK)
    if not zorvek.getDeviceCount(0):
        raise SystemExit("python_bench: the scripted camera was not found")
    # Processor time, as the native benchmark reports it.
    timer = timeit.Timer("count(0)", timer=time.process_time, globals={"count": zorvek.getDeviceCount})
    number, _ = timer.autorange()
    number = max(number, 10_000)
    per_call = [total / number for total in timer.repeat(repeats, number)]
    return statistics.median(per_call), per_call


def count_in_child(module_path, repeats, unbuffered):
    """The call timed in a fresh interpreter whose C standard output is buffered as usual, or not
    (PYTHONUNBUFFERED=1, python -u: then every trace text is a write to the file)."""
    env = {k: v for k, v in os.environ.items() if k != "PYTHONUNBUFFERED"}
    if unbuffered:
        env["PYTHONUNBUFFERED"] = "1"
    done = subprocess.run(
        [sys.executable, __file__, "--count-child", module_path, "--repeats", str(repeats)],
        env=env,
        stderr=subprocess.PIPE,
        text=True,
        check=True,
    )
    return json.loads(done.stderr.splitlines()[-1])


def count_child(module_path, repeats):
    # The scans write their trace to standard output: to /dev/null while they are timed, as in the
    # native benchmarks, and at the file-descriptor level, where the C library writes it. The result
    # goes to standard error.
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, 1)
    os.close(devnull)
    call, calls = count_call_seconds(module_path, repeats)
    print(json.dumps({"median": call, "runs": calls}), file=sys.stderr)


def native_count_seconds(program):
    """Processor time of one native getDeviceCount over the same scripted device."""
    with tempfile.TemporaryDirectory() as work:
        out = os.path.join(work, "count.json")
        subprocess.run(
            [program, "--benchmark_filter=^count$", "--benchmark_min_time=0.2", f"--benchmark_out={out}"],
            stderr=subprocess.DEVNULL,
            check=True,
        )
        with open(out) as file:
            (entry,) = json.load(file)["benchmarks"]
    return entry["cpu_time"] * {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[entry["time_unit"]]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--scripted-module")
    parser.add_argument("--native-bench")
    parser.add_argument("--out")
    parser.add_argument("--import-runs", type=int, default=30)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--count-child", metavar="MODULE", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.count_child:
        count_child(args.count_child, args.repeats)
        return
    if not (args.scripted_module and args.native_bench and args.out):
        parser.error("--scripted-module, --native-bench and --out are required")

    imports = import_milliseconds(sys.executable, args.import_runs, "Zorvek")
    package_imports = import_milliseconds(sys.executable, args.import_runs, "zorvekcam")
    native, python, unbuffered = [], [], []
    for _ in range(args.rounds):
        native.append(native_count_seconds(args.native_bench))
        python.append(count_in_child(args.scripted_module, args.repeats, unbuffered=False)["median"])
        unbuffered.append(count_in_child(args.scripted_module, args.repeats, unbuffered=True)["median"])
    with open(args.out, "w") as out:
        json.dump(
            {
                "import_ms": statistics.median(imports),
                "import_ms_runs": imports,
                "package_import_ms": statistics.median(package_imports),
                "package_import_ms_runs": package_imports,
                "native_count_s": statistics.median(native),
                "count_call_s": statistics.median(python),
                "count_call_unbuffered_s": statistics.median(unbuffered),
                "overhead_s": statistics.median(p - n for p, n in zip(python, native)),
                "unbuffered_overhead_s": statistics.median(u - n for u, n in zip(unbuffered, native)),
                "rounds": {"native_s": native, "python_s": python, "unbuffered_s": unbuffered},
            },
            out,
            indent=1,
        )


if __name__ == "__main__":
    main()
