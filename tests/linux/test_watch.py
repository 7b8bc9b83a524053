"""zorvekcam.watch(), awatch() and python -m zorvekcam --watch over fake V4L2 devices that umockdev
announces with uevents, each in a child process (see watch_child.py). How fast events come out is
bench/watch_bench.py's business: here an expected line may take seconds on a loaded machine."""

import signal
from pathlib import Path

import pytest

from conftest import PATIENCE
from fake_v4l2 import camera

CHILD = str(Path(__file__).with_name("watch_child.py"))


def test_cameras_come_and_go_one_event_each_and_an_idle_watch_opens_nothing(devices, children):
    first = devices.plug(camera("1-1", 0, serial=b"SN1"))
    child = children(CHILD, "watch")
    assert child.events(1) == [("present", "/dev/video0", "SN1")]

    # Nothing happens: nothing is walked, so no node is opened.
    devices.queries.reset()
    child.assert_quiet(1.0)
    assert devices.queries.asked == {}

    # Unplugged and plugged in again at once: the same camera, removed then added.
    devices.unplug(first)
    devices.plug(camera("1-1", 0, serial=b"SN1"))
    assert child.events(2) == [("removed", "/dev/video0", "SN1"), ("added", "/dev/video0", "SN1")]

    # A hub of eight in one burst, two nodes each: one event each; a camera gone keeps its serial.
    hub = [devices.plug(camera(f"2-{i + 1}", 10 + 2 * i, serial=b"H%d" % i)) for i in range(8)]
    assert sorted(child.events(8)) == [("added", f"/dev/video{10 + 2 * i}", f"H{i}") for i in range(8)]
    for device in hub:
        devices.unplug(device)
    assert sorted(child.events(8)) == [("removed", f"/dev/video{10 + 2 * i}", f"H{i}") for i in range(8)]
    child.assert_quiet(0.3)

    assert child.end() == (0, "")  # device events, no fallback to polling


def test_awatch_leaves_the_loop_running_during_walks_and_nothing_behind_when_cancelled(devices, children):
    devices.plug(camera("1-1", 0, serial=b"SN1"))
    child = children(CHILD, "awatch")
    assert child.events(1) == [("present", "/dev/video0", "SN1")]
    # Every node takes 0.1 s to answer: each walk below asks four, and would hold the loop up for
    # 0.4 s if it ran there.
    devices.queries.delay = 0.1
    second = devices.plug(camera("1-2", 2))
    assert child.events(1) == [("added", "/dev/video2", None)]
    devices.unplug(second)
    assert child.events(1) == [("removed", "/dev/video2", None)]

    child.send("stop")
    result = child.line()
    assert result["late"] < 0.2, result
    # The device events' descriptor is closed, and no walking thread is left.
    assert result["threads"][0] == result["threads"][1] and result["fds"][0] == result["fds"][1], result
    assert child.process.wait(timeout=PATIENCE) == 0


@pytest.mark.parametrize("stop", [signal.SIGINT, signal.SIGTERM])
def test_the_command_line_prints_each_event_as_it_comes_and_stops_cleanly(devices, children, stop):
    devices.plug(camera("1-1", 0, serial=b"SN\x1b1"))
    child = children("-m", "zorvekcam", "--watch", "--json")
    assert child.events(1) == [("present", "/dev/video0", "SN\x1b1")]
    second = devices.plug(camera("1-2", 2))
    assert child.events(1) == [("added", "/dev/video2", None)]
    devices.unplug(second)
    assert child.events(1) == [("removed", "/dev/video2", None)]
    assert child.end(stop) == (0, "watching for USB 2560:C0D6 cameras; Ctrl-C stops\n")


MONITOR = """
import json, sys
from zorvekcam import _core
monitor = _core.Monitor(sys.argv[1])
print('"ready"', flush=True)
seen = []
while len(seen) < 4 and monitor.wait(20):
    seen += monitor.drain()
monitor.close()
print(json.dumps(seen), flush=True)
"""


@pytest.mark.parametrize("source", ["udev", "kernel"])
def test_each_libudev_source_tells_the_nodes_of_a_camera_coming_and_going(devices, children, source):
    # watch() takes udev's events where udev runs (not in the testbed), else the kernel's.
    child = children("-c", MONITOR, source)
    assert child.line() == "ready"
    devices.unplug(devices.plug(camera("1-1", 0)))
    assert child.line() == [["add", "video0"], ["add", "video1"], ["remove", "video0"], ["remove", "video1"]]
