"""The module under load, over scripted devices: Python threads calling at once all see the same
devices and get the same results and records, every call walks afresh, no two calls' traces mix,
nothing of the COM stand-in outlives a call, and a long run of calls leaves resident memory flat.
Each case runs in a process of its own (stress_child.py)."""
import collections
import dataclasses
import json
import pathlib
import subprocess
import sys
from typing import NamedTuple

import pytest

from scripted import E_FAIL, Device, child_env, missing_reason, other_path, target_path

CHILD = pathlib.Path(__file__).with_name("stress_child.py")
THREADS_START = "\nTHREADS\n"

NONE = ["", "", "", ""]


def record(i):
    return [f"Cam {i}", "2560", "C0D6", target_path(i, "upper")]


class Case(NamedTuple):
    devices: list
    round: list  # what one round gives: see stress_child.one_round
    script: dict = {}


CASES = {
    "two targets among other cameras": Case(
        [Device(other_path(0)), Device(target_path(0), "Cam 0"), Device(None), Device(other_path(1)),
         Device(target_path(1), "Cam 1")],
        [True, True, record(0), True, [record(0), record(1)]]),
    "other cameras only": Case(
        [Device(other_path(0)), Device(other_path(1).upper())],
        [False, False, NONE, False, [NONE, NONE]]),
    "no video input device": Case([], [False, False, NONE, False, [NONE, NONE]]),
    "no system device enumerator": Case(
        [Device(target_path(0))], [False, False, NONE, False, [NONE, NONE]], {"create_result": E_FAIL}),
    # The record walk writes the target's record before it meets the failing device, then fails.
    "a property bag fails after a target": Case(
        [Device(target_path(0), "Cam 0"), Device(target_path(1), bind_result=E_FAIL)],
        [True, False, record(0), False, [record(0), NONE]]),
    "a property read throws after a target": Case(
        [Device(target_path(0), "Cam 0"), Device(target_path(1), throw_on_read=True)],
        [True, False, record(0), False, [record(0), NONE]]),
}


def scripts(*cases):
    return [{"devices": [dataclasses.asdict(d) for d in case.devices], "script": case.script} for case in cases]


def run_child(tmp_path, plan, keep_trace):
    reason = missing_reason()
    if reason:
        pytest.skip(reason)
    plan_file, findings_file = tmp_path / "plan.json", tmp_path / "findings.json"
    plan_file.write_text(json.dumps(plan))
    done = subprocess.run([sys.executable, str(CHILD), str(plan_file), str(findings_file)], env=child_env(),
                          stdout=subprocess.PIPE if keep_trace else subprocess.DEVNULL, stderr=subprocess.PIPE,
                          timeout=120)
    assert done.returncode == 0, done.stderr.decode(errors="replace")
    assert done.stderr == b""
    return json.loads(findings_file.read_text()), (done.stdout or b"").decode()


def assert_nothing_outlives_the_calls(found):
    assert found["live_references"] == 0, "a COM reference outlived the calls"
    assert found["live_bstrs"] == 0, "a BSTR outlived the calls"


def scans(trace):
    """The trace cut before each scan: every piece is one scan and what its call wrote after it."""
    return collections.Counter("initialize is statred" + piece for piece in trace.split("initialize is statred")[1:])


@pytest.mark.parametrize("name", CASES)
def test_eight_threads_see_the_same_devices_and_get_the_same_results(tmp_path, name):
    case = CASES[name]
    threads, rounds = 8, 334  # three calls a round: 1000 calls per thread
    findings, trace = run_child(tmp_path, {"scripts": scripts(case), "threads": threads, "rounds": rounds,
                                           "warmup": 0, "reference": True}, keep_trace=True)
    [found] = findings["scripts"]

    assert json.loads(found["reference_round"]) == case.round
    assert found["seen"] == [{found["reference_round"]: rounds}] * threads
    # Every call walked afresh, as many times as alone...
    assert found["walks"] == found["walks_per_round"] * (threads * rounds + 1)
    assert_nothing_outlives_the_calls(found)
    # ...and no call's trace ran into another's: cut at each scan, the threads wrote the very
    # pieces one round writes alone, each as many times over.
    alone, together = trace.split(THREADS_START)
    assert scans(alone) and scans(together) == collections.Counter(
        {piece: n * threads * rounds for piece, n in scans(alone).items()})


def test_a_hundred_thousand_calls_leave_memory_flat(tmp_path, capsys):
    # Every script in turn, so that each way a call can end is taken many times over.
    threads, rounds = 2, 100_000 // (3 * 2 * len(CASES)) + 1
    findings, _ = run_child(tmp_path, {"scripts": scripts(*CASES.values()), "threads": threads, "rounds": rounds,
                                       "warmup": 200, "reference": False}, keep_trace=False)

    for found, case in zip(findings["scripts"], CASES.values()):
        assert found["seen"] == [{json.dumps(case.round): rounds}] * threads
        assert_nothing_outlives_the_calls(found)
    calls = 3 * threads * rounds * len(CASES)
    growth = findings["rss_growth_kib"]
    with capsys.disabled():
        print(f"\n[stress] {calls} calls after warm-up: resident memory {findings['rss_before_kib']} KiB, "
              f"grew by {growth} KiB")
    assert growth < 1024, f"resident memory grew by {growth} KiB over {calls} calls"
