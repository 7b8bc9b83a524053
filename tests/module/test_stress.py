"""The module under load, over scripted devices: many Python threads calling at once all see the
same devices and get the same answers, nothing of the COM stand-in outlives a call, and a long run
of calls leaves resident memory flat. Each case runs in a process of its own (stress_child.py)."""
import json
import os
import pathlib
import subprocess
import sys
from typing import NamedTuple

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
MODULE_DIR = pathlib.Path(os.environ.get("ZORVEK_SCRIPTED_DIR", ROOT / "build" / "tests" / "scripted"))
CHILD = pathlib.Path(__file__).with_name("stress_child.py")

E_FAIL = -2147467259  # 0x80004005

TARGET = "\\\\?\\usb#vid_2560&pid_c0d6&mi_00#6&1a2b3c4d&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global"
SECOND = "\\\\?\\usb#vid_2560&pid_c0d6&mi_00#6&99&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global"
OTHER = "\\\\?\\usb#vid_046d&pid_0825&mi_00#7&2b&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global"


def device(path, name="USB Camera", bind_result=0, throws=False):
    return [path, name, bind_result, int(throws)]


class Case(NamedTuple):
    script: dict
    answer: bool  # what every call must return
    trace_shows: str  # a piece of one call's trace, which shows the mask or where the scan stopped
    walks: int = 1  # category enumerators each call creates


SCRIPTS = {
    "two targets among other cameras": Case(
        {"reset": [0, 0, 0], "devices": [device(OTHER), device(TARGET), device(None), device(OTHER), device(SECOND)]},
        True, "Before index list is : 3\n"),
    "other cameras only": Case(
        {"reset": [0, 0, 0], "devices": [device(OTHER), device(OTHER.upper())]},
        False, "Before index list is fillDevice is not connected"),
    "no video input device": Case(
        {"reset": [0, 0, 0], "devices": []}, False, "initialize is statredNotInitialized ErrorDevice is not connected"),
    "no system device enumerator": Case(
        {"reset": [E_FAIL, 0, 0], "devices": [device(TARGET)]}, False,
        "initialize is statredNotInitialized ErrorDevice is not connected", walks=0),
    "a property bag fails after a target": Case(
        {"reset": [0, 0, 0], "devices": [device(TARGET), device(SECOND, bind_result=E_FAIL)]},
        True, "Before index list is : 1\nEntered a While loopNotInitialized Error"),
    "a property read throws after a target": Case(
        {"reset": [0, 0, 0], "devices": [device(TARGET), device(SECOND, throws=True)]},
        True, "Before index list is : 1\nEntered a While loop While loop hr successedNotInitialized Error"),
}


def run_child(tmp_path, scripts, threads, calls, warmup=0, keep_trace=True):
    if not list(MODULE_DIR.glob("Zorvek*.so")):
        pytest.fail(f"no scripted build of the module in {MODULE_DIR}: configure with -DZORVEK_BUILD_TESTS=ON "
                    "and build (scripts/test.sh does), or name its folder in ZORVEK_SCRIPTED_DIR")
    plan = tmp_path / "plan.json"
    findings = tmp_path / "findings.json"
    plan.write_text(json.dumps({"module_dir": str(MODULE_DIR), "scripts": scripts, "threads": threads,
                                "calls": calls, "warmup": warmup}))
    done = subprocess.run([sys.executable, str(CHILD), str(plan), str(findings)],
                          stdout=subprocess.PIPE if keep_trace else subprocess.DEVNULL, stderr=subprocess.PIPE,
                          timeout=120)
    assert done.returncode == 0, done.stderr.decode(errors="replace")
    assert done.stderr == b""
    return json.loads(findings.read_text()), done.stdout


def assert_nothing_outlives_the_calls(script_findings):
    assert script_findings["live_references"] == 0, "a COM reference outlived the calls"
    assert script_findings["live_bstrs"] == 0, "a BSTR outlived the calls"


@pytest.mark.parametrize("name", SCRIPTS)
def test_eight_threads_see_the_same_devices_and_get_the_same_answers(tmp_path, name):
    case = SCRIPTS[name]
    threads, calls = 8, 1000
    findings, trace = run_child(tmp_path, [case.script], threads, calls)
    [result] = findings["scripts"]

    assert result["answers"] == [{repr(case.answer): calls}] * threads
    # Every call ran one whole scan of its own...
    assert result["walks"] == case.walks * threads * calls
    assert_nothing_outlives_the_calls(result)
    # ...and no two calls overlapped: the trace is one call's text over and over, unbroken.
    text = trace.decode()
    one = text[: len(text) // (threads * calls)]
    assert one.startswith("initialize is statred")
    assert case.trace_shows in one
    assert text == one * (threads * calls)


def test_a_hundred_thousand_calls_leave_memory_flat(tmp_path, capsys):
    # Every script in turn, so that each way a scan can end is taken many times: 2 threads, a
    # sixth of the calls per script.
    scripts = [case.script for case in SCRIPTS.values()]
    threads = 2
    calls = 100_000 // (threads * len(scripts)) + 1
    findings, _ = run_child(tmp_path, scripts, threads, calls, warmup=2000, keep_trace=False)

    for result in findings["scripts"]:
        assert_nothing_outlives_the_calls(result)
    growth = findings["rss_growth_kib"]
    with capsys.disabled():
        print(f"\n[stress] {threads * calls * len(scripts)} calls after warm-up: resident memory "
              f"{findings['rss_before_kib']} KiB, grew by {growth} KiB")
    assert growth < 1024, f"resident memory grew by {growth} KiB over 100k calls"
