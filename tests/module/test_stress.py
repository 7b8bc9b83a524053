"""The module under load, over scripted devices, in a child process (this file run as a script):
Python threads calling at once all see the same devices and get the same results and records, every
call walks afresh, no two calls' traces mix, nothing of the COM stand-in outlives a call, and a long
run of calls leaves resident memory flat."""

import collections
import ctypes
import dataclasses
import json
import os
import subprocess
import sys
import threading

import pytest

import scripted
from scripted import E_FAIL, Device, other_path, target_path

SCRIPT_START, THREADS_START, FINDINGS = "\nSCRIPT\n", "\nTHREADS\n", "\nFINDINGS\n"
THREADS, ROUNDS, WARMUP = 8, 840, 50  # three calls a round: over 100,000 calls after the warm-up
NONE = ["", "", "", ""]


def record(i):
    return [f"Cam {i}", "2560", "C0D6", target_path(i, "upper")]


# name: (devices, keywords of the script, what one round gives: see one_round)
CASES = {
    "two targets among other cameras": (
        [
            Device(other_path(0)),
            Device(target_path(0), "Cam 0"),
            Device(None),
            Device(other_path(1)),
            Device(target_path(1), "Cam 1"),
        ],
        {},
        [True, True, record(0), True, [record(0), record(1)]],
    ),
    "no video input device": ([], {}, [False, False, NONE, False, [NONE, NONE]]),
    "no system device enumerator": (
        [Device(target_path(0))],
        {"create_result": E_FAIL},
        [False, False, NONE, False, [NONE, NONE]],
    ),
    # The record walk writes the target's record before it meets the failing device, then fails.
    "a property bag fails after a target": (
        [Device(target_path(0), "Cam 0"), Device(target_path(1), bind_result=E_FAIL)],
        {},
        [True, False, record(0), False, [record(0), NONE]],
    ),
    "a property read throws after a target": (
        [Device(target_path(0), "Cam 0"), Device(target_path(1), throw_on_read=True)],
        {},
        [True, False, record(0), False, [record(0), NONE]],
    ),
}


@pytest.fixture(scope="module")
def stress():
    """The child's findings, and for each case the traces of one round alone and of the threads (the
    warm-up's come first)."""
    reason = scripted.missing_reason()
    if reason:
        pytest.skip(reason)
    plan = [
        {"devices": [dataclasses.asdict(d) for d in devices], "script": script} for devices, script, _ in CASES.values()
    ]
    done = subprocess.run(
        [sys.executable, __file__, json.dumps(plan)], env=scripted.child_env(), capture_output=True, timeout=300
    )
    assert (done.returncode, done.stderr.decode(errors="replace")) == (0, "")
    trace, findings = done.stdout.decode().rsplit(FINDINGS, 1)
    traces = [piece.split(THREADS_START) for piece in trace.split(SCRIPT_START)[-len(CASES) :]]
    return json.loads(findings), dict(zip(CASES, traces))


def scans(trace):
    """The trace cut before each scan: every piece is one scan and what its call wrote after it."""
    return collections.Counter("initialize is statred" + piece for piece in trace.split("initialize is statred")[1:])


@pytest.mark.parametrize("name", CASES)
def test_eight_threads_see_the_same_devices_and_get_the_same_results(stress, name):
    findings, traces = stress
    found = findings["scripts"][list(CASES).index(name)]
    assert json.loads(found["reference_round"]) == CASES[name][2]
    assert found["seen"] == [{found["reference_round"]: ROUNDS}] * THREADS
    # Every call walked afresh, as many times as alone...
    assert found["walks"] == found["walks_per_round"] * (THREADS * ROUNDS + 1)
    assert found["live_references"] == 0, "a COM reference outlived the calls"
    assert found["live_bstrs"] == 0, "a BSTR outlived the calls"
    # ...and no call's trace ran into another's: cut at each scan, the threads wrote the very
    # pieces one round writes alone, each as many times over.
    alone, together = traces[name]
    assert scans(alone) and scans(together) == collections.Counter(
        {piece: n * THREADS * ROUNDS for piece, n in scans(alone).items()}
    )


def test_a_hundred_thousand_calls_leave_memory_flat(stress, capsys):
    # Every case in turn, so that each way a call can end is taken many times over.
    findings, _ = stress
    calls, growth = 3 * THREADS * ROUNDS * len(CASES), findings["rss_growth_kib"]
    with capsys.disabled():
        print(
            f"\n[stress] {calls} calls after warm-up: resident memory {findings['rss_before_kib']} KiB, "
            f"grew by {growth} KiB"
        )
    assert growth < 1024, f"resident memory grew by {growth} KiB over {calls} calls"


# The child. Standard output is the module's trace, then the findings.


def one_round(zorvek, records):
    """What a caller sees of one round, three calls with fresh records: each call's result and the
    records it left."""
    info, listed = records.DeviceInfo(1), records.DeviceInfo(2)
    results = [zorvek.getDeviceCount(0), zorvek.getDeviceInfo(0, info), zorvek.getDeviceListInfo(2, listed)]
    fields = [[r.friendlyName, r.vid, r.pid, r.devicePath] for r in [info[0], *listed]]
    return json.dumps([*results[:2], fields[0], results[2], fields[1:]])


def resident_kib():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


def main(scripts):
    """`WARMUP` rounds on each of `THREADS` threads over every script; then for each script in turn
    one round on this thread alone, and `ROUNDS` rounds on each of the threads started together."""
    devices, libc = scripted.load(), ctypes.CDLL(None)
    zorvek, records = devices.Zorvek, devices.records

    def mark(text):  # after what C stdio holds of the trace
        libc.fflush(None)
        os.write(1, text.encode())

    def run(script, rounds):
        devices.attach(*(Device(**d) for d in script["devices"]), **script["script"])
        mark(SCRIPT_START)
        round_seen, walks_per_round = one_round(zorvek, records), devices.walks()
        mark(THREADS_START)
        seen = [collections.Counter() for _ in range(THREADS)]
        start = threading.Barrier(THREADS)

        def caller(counter):
            start.wait()
            for _ in range(rounds):
                counter[one_round(zorvek, records)] += 1

        workers = [threading.Thread(target=caller, args=(counter,)) for counter in seen]
        for worker in workers:
            worker.start()
        for worker in workers:
            worker.join()
        return {
            "seen": seen,
            "walks": devices.walks(),
            "reference_round": round_seen,
            "walks_per_round": walks_per_round,
            "live_references": devices.live_references(),
            "live_bstrs": devices.live_bstrs(),
        }

    # Switch threads as often as the interpreter will, so that calls interleave as finely as its
    # lock allows.
    sys.setswitchinterval(1e-6)
    for script in scripts:
        run(script, WARMUP)
    before = resident_kib()
    found = [run(script, ROUNDS) for script in scripts]
    mark(FINDINGS + json.dumps({"scripts": found, "rss_before_kib": before, "rss_growth_kib": resident_kib() - before}))


if __name__ == "__main__":
    main(json.loads(sys.argv[1]))
