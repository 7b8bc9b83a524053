"""python -m zorvekcam over scripted devices, each run in a child process whose standard output is
read after it has exited."""
import json
import queue
import signal
import subprocess
import sys
import threading

from conftest import OTHER, TARGET_A, TARGET_B, package_env
from scripted import Device, child_command

TRACE_WORDS = ("initialize is statred", "While loop", "NotInitialized", "Device is not connected")


def run(devices, *args):
    out = subprocess.run(child_command(devices, "-m", "zorvekcam", *args), capture_output=True, text=True,
                         env=package_env(), timeout=60)
    assert not any(word in out.stdout for word in TRACE_WORDS), out.stdout
    return out


def test_table_of_the_attached_cameras():
    out = run([Device(OTHER, "Other"), Device(TARGET_A, "Cam A"), Device(TARGET_B, "Camera B")])
    assert (out.returncode, out.stderr) == (0, "")
    lines = out.stdout.splitlines()
    assert lines[0].split() == ["NAME", "VID", "PID", "NODE", "PATH"]
    assert [line.split()[:4] for line in lines[1:]] == [["Cam", "A", "2560", "C0D6"], ["Camera", "B", "2560", "C0D6"]]
    assert lines[1].endswith(TARGET_A.upper()) and "/dev/video0" in lines[1]
    # Columns line up: every row's vendor ID stands where the heading's does.
    assert {line.index(" 2560") + 1 for line in lines[1:]} == {lines[0].index("VID")}


def test_none_attached_is_one_line_and_status_1():
    out = run([Device(OTHER, "Other")])
    assert (out.returncode, out.stdout, out.stderr) == (1, "none attached (USB 2560:C0D6)\n", "")


def test_json_holds_exactly_the_cameras_and_nothing_else():
    out = run([Device(TARGET_A, "Cam A"), Device(OTHER, "Other"), Device(TARGET_B, None)], "--json")
    assert (out.returncode, out.stderr) == (0, "")
    assert json.loads(out.stdout) == [
        {"name": "Cam A", "vid": "2560", "pid": "C0D6", "path": TARGET_A.upper(), "node": "/dev/video0"},
        {"name": "", "vid": "2560", "pid": "C0D6", "path": TARGET_B.upper(), "node": "/dev/video2"},
    ]
    none = run([], "--json")
    assert (none.returncode, json.loads(none.stdout)) == (1, [])


def test_trace_option_copies_the_trace_to_standard_error_only():
    out = run([], "--trace")
    assert out.stdout == "none attached (USB 2560:C0D6)\n"
    assert out.stderr == "initialize is statredNotInitialized ErrorDevice is not connected\n"


def test_help_and_bad_arguments():
    helped = run([], "--help")
    assert helped.returncode == 0 and "--watch" in helped.stdout and "Exit status" in helped.stdout
    for bad in (["--bogus"], ["--watch", "--interval", "0"]):
        out = run([], *bad)
        assert (out.returncode, out.stdout) == (2, ""), bad


def test_watch_sees_a_camera_come_and_go_and_stops_on_ctrl_c():
    # Cam B is there from the start. Each scan costs one walk, plus two for each camera listed:
    # Cam A appears after a few scans and is gone a few scans later.
    devices = [Device(TARGET_B, "Cam B"), Device(TARGET_A, "Cam A", first_walk=9, last_walk=23)]
    child = subprocess.Popen(child_command(devices, "-m", "zorvekcam", "--watch", "--interval", "0.05"),
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=package_env())
    lines: queue.Queue[str] = queue.Queue()
    threading.Thread(target=lambda: [lines.put(line) for line in child.stdout], daemon=True).start()
    try:
        events = [lines.get(timeout=30).split()[1:] for _ in range(3)]
        assert events == [["present", "Cam", "B", "/dev/video2"], ["plugged", "Cam", "A", "/dev/video0"],
                          ["unplugged", "Cam", "A", "/dev/video0"]]
        child.send_signal(signal.SIGINT)
        assert child.wait(timeout=30) == 0
        assert child.stderr.read() == "watching for USB 2560:C0D6 cameras every 0.05 s; Ctrl-C stops\n"
    finally:
        child.kill()
        child.wait()
