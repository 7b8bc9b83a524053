"""python -m zorvekcam over scripted devices, each run in a child process whose standard output is
read after it has exited."""

import errno
import json
import os
import queue
import re
import signal
import subprocess
import threading

import pytest

from conftest import OTHER, TARGET_A, TARGET_B, child_env
from scripted import E_FAIL, Device, child_command

TRACE_WORDS = ("initialize is statred", "While loop", "NotInitialized", "Device is not connected")
WATCHING = "watching for USB 2560:C0D6 cameras; Ctrl-C stops\n"
CLOSED = ["sh", "-c", 'exec "$@" >&-', "sh"]  # standard output closed, as a daemon may start it


def run(devices, *args, stdout=subprocess.PIPE, env=None, before=(), **script):
    out = subprocess.run(
        [*before, *child_command(devices, "-m", "zorvekcam", *args, **script)],
        stdout=stdout,
        stderr=subprocess.PIPE,
        text=True,
        env=child_env() | (env or {}),
        timeout=60,
    )
    assert not any(word in (out.stdout or "") for word in TRACE_WORDS), out.stdout
    return out


def test_table_of_the_attached_cameras_one_line_each_with_control_characters_from_a_device_escaped():
    hostile = "Cam\x1b[2J\x1b]0;x\x07\x9b1m\nX\x7f"
    out = run(
        [
            Device(OTHER, "Other"),
            Device(TARGET_A, "Cam A", serial="SN1", port="1-2"),
            Device(TARGET_B, hostile, serial="S\x1bN"),
        ]
    )
    assert (out.returncode, out.stderr) == (0, "")
    lines = out.stdout.splitlines()
    assert lines[0].split() == ["NAME", "VID", "PID", "INDEX", "SERIAL", "PORT", "NODE", "PATH"]
    assert [line.split()[:8] for line in lines[1:]] == [
        ["Cam", "A", "2560", "C0D6", "1", "SN1", "1-2", "/dev/video0"],
        [r"Cam\x1b[2J\x1b]0;x\x07\x9b1m\nX\x7f", "2560", "C0D6", "2", r"S\x1bN", "-", "/dev/video2", TARGET_B.upper()],
    ]
    assert lines[1].endswith(TARGET_A.upper())
    # Columns line up: every row's vendor ID stands where the heading's does.
    assert {line.index(" 2560") + 1 for line in lines[1:]} == {lines[0].index("VID")}
    assert not any(ord(c) < 0x20 or 0x7F <= ord(c) < 0xA0 for c in out.stdout.replace("\n", ""))
    # JSON stays exact: its own escapes give the name back as the device reported it.
    assert json.loads(run([Device(TARGET_A, hostile)], "--json").stdout)[0]["name"] == hostile


def test_an_enumeration_failure_is_not_an_empty_machine():
    out = run([Device(TARGET_A, "Cam A")], create_result=E_FAIL)
    assert out.returncode == 3 and out.stdout == ""
    assert out.stderr == (
        "zorvekcam: listing the video input devices failed: CoCreateInstance(CLSID_SystemDeviceEnum) "
        "returned 0x80004005\n"
    )


def test_a_failed_system_call_is_told_in_its_own_words_with_status_3():
    out = run([Device(TARGET_A, "Cam A")], category_result=E_FAIL, category_errno=errno.EACCES)
    assert (out.returncode, out.stdout) == (3, "")
    assert out.stderr == (
        "zorvekcam: listing the video input devices failed: opendir /scripted/video4linux: "
        f"{os.strerror(errno.EACCES)} (errno {errno.EACCES})\n"
    )


@pytest.mark.parametrize("unbuffered", ["", "1"])
def test_write_errors_on_standard_output_have_statuses_of_their_own(unbuffered):
    env = {"PYTHONUNBUFFERED": unbuffered}
    # A watch fails at its first line, a camera there from the start.
    for devices, options, said in (
        ([], (), ""),
        ([Device(TARGET_A, "Cam A")], (), ""),
        ([Device(TARGET_A, "Cam A")], ("--watch",), WATCHING),
    ):
        # The reader is gone before the first write: a closed pipe ends quietly.
        reader, writer = os.pipe()
        os.close(reader)
        closed = run(devices, "--json", *options, stdout=writer, env=env)
        os.close(writer)
        assert (closed.returncode, closed.stderr) == (141, said)
        with open("/dev/full", "w") as full:
            out = run(devices, *options, stdout=full, env=env)
        assert (out.returncode, out.stderr) == (
            74,
            said + "zorvekcam: cannot write to standard output: No space left on device\n",
        )


def test_started_with_standard_output_closed_it_says_so_once_or_ends_as_it_would_with_nothing_to_write():
    for devices in ([], [Device(TARGET_A, "Cam A")]):
        out = run(devices, "--json", before=CLOSED)
        assert (out.returncode, out.stderr) == (74, "zorvekcam: cannot write to standard output: Bad file descriptor\n")
    # A watch with no camera has had nothing to write when it is stopped.
    child = subprocess.Popen(
        CLOSED + child_command([], "-m", "zorvekcam", "--watch"), stderr=subprocess.PIPE, text=True, env=child_env()
    )
    try:
        assert child.stderr.readline() == WATCHING
        child.send_signal(signal.SIGTERM)
        assert (child.wait(timeout=30), child.stderr.read()) == (0, "")
    finally:
        child.kill()
        child.wait()


def test_none_attached_is_one_line_and_status_1_and_the_trace_option_copies_the_trace_to_standard_error_only():
    out = run([Device(OTHER, "Other")])
    assert (out.returncode, out.stdout, out.stderr) == (1, "none attached (USB 2560:C0D6)\n", "")
    traced = run([Device(OTHER, "Other")], "--trace")
    assert (traced.returncode, traced.stdout) == (1, out.stdout)
    assert traced.stderr.startswith("Before While loopEntered a While loop") and traced.stderr.endswith("fill\n")


def test_json_holds_exactly_the_cameras_and_nothing_else():
    out = run([Device(TARGET_A, "Cam A"), Device(OTHER, "Other"), Device(TARGET_B, None)], "--json")
    assert (out.returncode, out.stderr) == (0, "")
    assert json.loads(out.stdout) == [
        {
            "name": "Cam A",
            "vid": "2560",
            "pid": "C0D6",
            "path": TARGET_A.upper(),
            "node": "/dev/video0",
            "index": 0,
            "backend": 200,
            "serial": None,
            "port": None,
            "moniker": None,
        },
        {
            "name": "",
            "vid": "2560",
            "pid": "C0D6",
            "path": TARGET_B.upper(),
            "node": "/dev/video2",
            "index": 2,
            "backend": 200,
            "serial": None,
            "port": None,
            "moniker": None,
        },
    ]
    none = run([], "--json")
    assert (none.returncode, json.loads(none.stdout)) == (1, [])


def test_help_and_bad_arguments():
    helped = run([], "--help")
    assert helped.returncode == 0 and "--watch" in helped.stdout and "Exit status" in helped.stdout
    for bad in (["--bogus"], ["--watch", "--interval", "0"]):
        out = run([], *bad)
        assert (out.returncode, out.stdout) == (2, ""), bad


def test_watch_polls_where_libudev_cannot_be_loaded_says_so_once_and_stops_on_ctrl_c(tmp_path):
    (tmp_path / "libudev.so.1").write_text("not a library\n")
    # Cam B is there from the start; each scan is one walk: Cam A appears after a few scans and is
    # gone a few scans later.
    devices = [Device(TARGET_B, "Cam B"), Device(TARGET_A, "Cam A", first_walk=9, last_walk=23)]
    child = subprocess.Popen(
        child_command(devices, "-m", "zorvekcam", "--watch", "--interval", "0.05"),
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        env=child_env() | {"LD_LIBRARY_PATH": str(tmp_path)},
    )
    lines: queue.Queue[str] = queue.Queue()
    threading.Thread(target=lambda: [lines.put(line) for line in child.stdout], daemon=True).start()
    try:
        events = [lines.get(timeout=30).split()[1:] for _ in range(3)]
        assert events == [
            ["present", "Cam", "B", "/dev/video2"],
            ["added", "Cam", "A", "/dev/video0"],
            ["removed", "Cam", "A", "/dev/video0"],
        ]
        child.send_signal(signal.SIGINT)
        assert child.wait(timeout=30) == 0
        assert child.stderr.read() == (
            WATCHING
            + f"no device events (libudev cannot be loaded: {tmp_path}/libudev.so.1: file too short): zorvekcam "
            "looks for camera changes every 0.05 s instead\n"
        )
    finally:
        child.kill()
        child.wait()


@pytest.mark.parametrize("options", [["--interval", "5"], ["--poll"], ["--json", "--poll", "--interval", "2"]])
def test_watch_options_without_a_watch_are_refused(options):
    out = run([Device(TARGET_A, "Cam A")], *options)
    assert (out.returncode, out.stdout) == (2, "")
    assert out.stderr.splitlines()[-1].endswith("--interval and --poll go with --watch"), out.stderr


@pytest.mark.parametrize("unbuffered", ["", "1"])
@pytest.mark.parametrize("option", ["--help", "--version"])
def test_help_and_version_keep_the_status_of_an_unwritable_standard_output(option, unbuffered):
    with open("/dev/full", "w") as full:
        out = run([], option, stdout=full, env={"PYTHONUNBUFFERED": unbuffered})
    assert (out.returncode, out.stderr) == (74, "zorvekcam: cannot write to standard output: No space left on device\n")
    reader, writer = os.pipe()
    os.close(reader)
    closed = run([], option, stdout=writer, env={"PYTHONUNBUFFERED": unbuffered})
    os.close(writer)
    assert (closed.returncode, closed.stderr) == (141, "")


def watched(devices, *options):
    """The first line a watch prints over `devices`; then it is stopped."""
    child = subprocess.Popen(
        child_command(devices, "-m", "zorvekcam", "--watch", *options),
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        env=child_env(),
    )
    try:
        line = child.stdout.readline()
        child.send_signal(signal.SIGTERM)
        assert child.wait(timeout=30) == 0
        return line
    finally:
        child.kill()
        child.wait()


ISO_WITH_OFFSET = r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?([+-]\d\d:\d\d|Z)"


@pytest.mark.parametrize(
    "serial, port, shown",
    [("SN-1", "1-2", "serial SN-1"), (None, "1-2", "port 1-2"), ("S\x1bN", None, r"serial S\x1bN")],
)
def test_a_watch_line_tells_the_camera_apart_and_its_time_carries_its_utc_offset(serial, port, shown):
    devices = [Device(TARGET_A, "Cam A", serial=serial, port=port)]
    line = watched(devices)
    assert re.fullmatch(ISO_WITH_OFFSET + r"  present    Cam A  /dev/video0  " + re.escape(shown) + "\n", line), line
    as_json = json.loads(watched(devices, "--json"))
    assert re.fullmatch(ISO_WITH_OFFSET, as_json["time"]) and (
        as_json["camera"]["serial"],
        as_json["camera"]["port"],
    ) == (serial, port)


NO_DEVICE_TRACE = "zorvekcam: the scan walked no video device: nothing to trace\n"


def test_the_trace_of_a_machine_without_video_devices_is_one_line_saying_so():
    out = run([], "--trace")
    assert (out.returncode, out.stderr) == (1, NO_DEVICE_TRACE)
    # A watch says it once, however many scans find nothing; a device's walk is traced as ever.
    child = subprocess.Popen(
        child_command(
            [Device(TARGET_A, "Cam A", first_walk=6)],
            "-m",
            "zorvekcam",
            "--watch",
            "--poll",
            "--interval",
            "0.02",
            "--trace",
        ),
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        env=child_env(),
    )
    try:
        assert child.stdout.readline().split()[1:] == ["added", "Cam", "A", "/dev/video0"]
        child.send_signal(signal.SIGTERM)
        assert child.wait(timeout=30) == 0
        said = child.stderr.read().splitlines()
        assert said[:2] == [WATCHING.strip(), NO_DEVICE_TRACE.strip()]
        assert said[2].startswith("Before While loop") and said[2].endswith("Before index list is fill")
        assert NO_DEVICE_TRACE.strip() not in said[3:]
    finally:
        child.kill()
        child.wait()


def test_a_traced_listing_that_failed_says_it_walked_nothing_then_why():
    out = run([Device(TARGET_A, "Cam A")], "--trace", category_result=E_FAIL)
    assert (out.returncode, out.stdout) == (3, "")
    assert out.stderr == NO_DEVICE_TRACE + (
        "zorvekcam: listing the video input devices failed: "
        "ICreateDevEnum::CreateClassEnumerator(CLSID_VideoInputDeviceCategory) returned 0x80004005\n"
    )
