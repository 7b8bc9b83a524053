"""The shipped module over fake V4L2 devices: the machine's cameras as the sysfs source lists them,
seen through the module's three queries, in a child process (see zorvek_child.py)."""
import json
import subprocess
from collections import namedtuple
from pathlib import Path

import pytest

import fake_v4l2
from conftest import SHIPPED_PYTHON
from fake_v4l2 import Node, capture_node, metadata_node, platform_node, usb_camera

CHILD = Path(__file__).with_name("zorvek_child.py")
DEBIAN_PYTHON = "/usr/bin/python3"

Record = namedtuple("Record", "friendly_name vid pid device_path")
# New records are zeroed.
UNTOUCHED = Record(bytes(50), bytes(5), bytes(5), bytes(550))


class Shipped:
    """A child process that calls the shipped module."""

    def __init__(self, python=SHIPPED_PYTHON, paths=()):
        self.process = subprocess.Popen([python, str(CHILD), *paths], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, text=True)

    def _ask(self, command):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()
        answer = self.process.stdout.readline()
        assert answer, f"the child ended (exit code {self.process.wait()})"
        return json.loads(answer)

    def count(self):
        answer = self._ask("count")
        return answer["result"], answer["trace"]

    def info(self, index):
        answer = self._ask(f"info {index}")
        return answer["result"], answer["trace"], Record(*(bytes.fromhex(f) for f in answer["fields"]))

    def list(self):
        """zorvekcam.list_devices() in this process: each camera's node and path."""
        return [tuple(camera) for camera in self._ask("list")["result"]]

    def list_at_once(self, threads, times):
        """The distinct answers of `threads` threads listing `times` times each, all at once."""
        return [[tuple(camera) for camera in json.loads(answer)] for answer in self._ask(f"threads {threads} {times}")["result"]]

    def scanned(self):
        """Zorvek's answer in this process: the path of every target camera getDeviceInfo gives."""
        paths = []
        while True:
            found, _, record = self.info(len(paths))
            if not found:
                return paths
            paths.append(text(record.device_path).decode())

    def close(self):
        self.process.stdin.close()
        try:
            assert self.process.wait(timeout=60) == 0
        finally:
            if self.process.poll() is None:
                self.process.kill()
                self.process.wait()


@pytest.fixture
def shipped():
    child = Shipped()
    yield child
    child.close()


def venv_site_packages():
    code = "import os, Zorvek; print(os.path.dirname(Zorvek.__file__))"
    return subprocess.run([SHIPPED_PYTHON, "-c", code], capture_output=True, text=True, check=True).stdout.strip()


INTERPRETERS = {
    "venv": lambda: Shipped(),
    "debian": lambda: Shipped(DEBIAN_PYTHON, (venv_site_packages(),)),
}


def scan_trace(*listed):
    """What a scan writes over the listed devices, in walk order: "target", "other" (a USB camera
    of another model), "platform" (a path without IDs), "unreadable" (a path that cannot be read)."""
    if not listed:
        return "initialize is statredNotInitialized Error"
    text, mask, slot = "initialize is statredBefore While loop", 0, 0
    for kind in listed:
        text += "Entered a While loop While loop hr successed"
        if kind == "unreadable":
            continue
        text += " While loop hr S_OK successed While loop hr devicePath != NULL successed"
        if kind != "platform":
            text += (" While loop hr wcsncpy_s(extrctd_vid, vid_substr + 4, 4) successed"
                     "While loop - pid_substr != NULL - wcsncpy_s(extrctd_pid, pid_substr + 4, 4);")
        text += "Before index list is fill"
        if kind == "target":
            mask |= 1 << slot
            slot += 1
            text += f"Before index list is : {mask}\n"
    return text


NO_DEVICE = "initialize is statredNotInitialized ErrorDevice is not connected"


def usb_path(port, node, interface=0, vendor="2560", product="c0d6"):
    """A record's devicePath: the source's path, upper-cased."""
    path = rf"\\?\usb#vid_{vendor}&pid_{product}&mi_{interface:02x}#{port}#{{65e8773d-8f56-11d0-a3b9-00a0c9223196}}\video{node}"
    return path.upper().encode()


def text(field):
    """A written field's text: every field ends in a terminator within its size."""
    return field[:field.index(b"\0")]


@pytest.mark.parametrize("interpreter", INTERPRETERS)
def test_no_video_device_at_all_fails_the_scan(devices, interpreter):
    child = INTERPRETERS[interpreter]()
    try:
        assert child.count() == (False, NO_DEVICE)
        assert child.info(0) == (False, NO_DEVICE + "InvalidDeviceIndex", UNTOUCHED)
    finally:
        child.close()


def test_nodes_that_capture_no_video_are_not_devices(devices, shipped):
    # An output node is its driver's first (index 0): only asking the node tells it apart.
    output = Node(0, index=0, device_caps=0x00000002 | fake_v4l2.STREAMING)
    devices.plug(usb_camera("1-1", [output, metadata_node(1)]))
    assert shipped.count() == (False, NO_DEVICE)
    assert devices.queries.asked == {"/dev/video0": 1, "/dev/video1": 1}


@pytest.mark.parametrize("interpreter", INTERPRETERS)
def test_target_camera_with_its_metadata_node_is_one_device(devices, interpreter):
    devices.plug(usb_camera("1-2.4", [capture_node(0), metadata_node(1)], product=b"Zorvek Cam 30"))
    child = INTERPRETERS[interpreter]()
    try:
        assert child.count() == (True, scan_trace("target"))
        found, trace, record = child.info(0)
        assert (found, trace) == (True, scan_trace("target"))
        assert record == Record(b"Zorvek Cam 30\0" + bytes(36), b"2560\0", b"C0D6\0",
                                usb_path("1-2.4", 0) + b"\0" + bytes(549 - len(usb_path("1-2.4", 0))))
        assert child.info(1) == (False, scan_trace("target") + "InvalidDeviceIndex", UNTOUCHED)
    finally:
        child.close()
    # Both nodes were asked, in every walk: three scans and one second walk.
    assert devices.queries.asked == {"/dev/video0": 4, "/dev/video1": 4}


def test_two_targets_among_others_in_node_order(devices, shipped):
    devices.plug(usb_camera("1-1", [capture_node(0), metadata_node(1)], vendor="046d", product_id="0825",
                            product=b"Webcam C270"))
    devices.plug(usb_camera("3-1", [capture_node(10)], interface=2, product=b"Target at video10"))
    devices.plug(platform_node(4))
    devices.plug(usb_camera("1-2.4", [capture_node(2), metadata_node(3)], product=b"Target at video2"))
    listed = scan_trace("other", "target", "platform", "target")
    assert shipped.count() == (True, listed)

    found, trace, first = shipped.info(0)
    assert (found, trace) == (True, listed)
    assert (text(first.friendly_name), text(first.device_path)) == (b"Target at video2", usb_path("1-2.4", 2))
    found, trace, second = shipped.info(1)
    assert (found, trace) == (True, listed)
    assert (text(second.friendly_name), text(second.device_path)) == (b"Target at video10", usb_path("3-1", 10, 2))
    assert shipped.info(2)[:2] == (False, listed + "InvalidDeviceIndex")


def test_node_whose_device_file_cannot_be_opened_counts_by_its_index(devices, shipped):
    devices.plug(usb_camera("1-3", [Node(0, index=0, device_caps=None), Node(1, index=1, device_caps=None)]))
    assert shipped.count() == (True, scan_trace("target"))
    found, _, record = shipped.info(0)
    assert found and text(record.device_path) == usb_path("1-3", 0)


def test_camera_whose_ids_cannot_be_read_is_skipped(devices, shipped):
    devices.plug(usb_camera("1-1", [capture_node(0)], product_id=None))
    devices.plug(usb_camera("1-2", [capture_node(1)]))
    assert shipped.count() == (True, scan_trace("unreadable", "target"))
    found, _, record = shipped.info(0)
    assert found and text(record.device_path) == usb_path("1-2", 1)


def test_unplugged_between_count_and_info(devices, shipped):
    camera = devices.plug(usb_camera("1-2", [capture_node(0), metadata_node(1)]))
    assert shipped.count() == (True, scan_trace("target"))
    devices.unplug(camera)
    assert shipped.info(0) == (False, NO_DEVICE + "InvalidDeviceIndex", UNTOUCHED)


def test_unplugged_between_the_scan_and_the_record_walk(devices, shipped):
    devices.plug(usb_camera("1-1", [capture_node(0)], vendor="046d", product_id="0825"))
    camera = devices.plug(usb_camera("1-2", [capture_node(1)]))
    # getDeviceInfo asks the node once in its scan and again in its own walk: pulled out then.
    devices.queries.hooks[("/dev/video1", 2)] = lambda: devices.vanish(camera)
    assert shipped.info(0) == (False, scan_trace("other", "target") + "InvalidDeviceIndex", UNTOUCHED)


def test_replugged_into_another_port_gets_a_new_path(devices, shipped):
    camera = devices.plug(usb_camera("1-2.4", [capture_node(0)]))
    found, _, record = shipped.info(0)
    assert found and text(record.device_path) == usb_path("1-2.4", 0)
    devices.unplug(camera)
    devices.plug(usb_camera("2-1.3.1", [capture_node(0)]))
    found, _, record = shipped.info(0)
    assert found and text(record.device_path) == usb_path("2-1.3.1", 0)


def test_long_and_non_ascii_product_names_are_cut_safely(devices, shipped):
    long_ascii = b"A USB camera product string that runs to sixty bytes, long!!"
    assert len(long_ascii) == 60
    long_accented = "é".encode() * 30
    broken = b"Cam\xff\xfera \xe6\x97\xa5"
    for number, product in enumerate([long_ascii, long_accented, broken]):
        devices.plug(usb_camera(f"1-{number + 1}", [capture_node(number, name="UVC Camera (2560:c0d6)")], product=product))
    names = [shipped.info(i)[2].friendly_name for i in range(3)]
    # 49 bytes and the terminator; a character that would not fit whole is left out.
    assert names[0] == long_ascii[:49] + b"\0"
    assert names[1] == "é".encode() * 24 + b"\0\0"
    expected = "Cam\ufffd\ufffdra 日".encode()
    assert names[2] == expected + b"\0" + bytes(49 - len(expected))


def test_ids_match_in_either_case(devices, shipped):
    devices.plug(usb_camera("1-1", [capture_node(0)], product_id="C0D6"))
    devices.plug(usb_camera("1-2", [capture_node(1)], product_id="c0d6"))
    devices.plug(usb_camera("1-3", [capture_node(2, name="UVC Camera (2560:c0d6)")], vendor="2560",
                            product_id="c0D6", product=None))
    assert shipped.count() == (True, scan_trace("target", "target", "target"))
    records = [shipped.info(i)[2] for i in range(3)]
    assert [(r.vid, r.pid) for r in records] == [(b"2560\0", b"C0D6\0")] * 3
    assert text(records[0].device_path) == usb_path("1-1", 0, product="C0D6")
    # A device without a product string is named by its node.
    assert text(records[2].friendly_name) == b"UVC Camera (2560:c0d6)"


def test_no_target_from_malformed_ids_or_a_parent_named_like_one(devices, shipped):
    # Only four hex digits of the USB device's own idVendor and idProduct make a target's path.
    devices.plug(usb_camera("1-1", [capture_node(0)], vendor="25601"))
    devices.plug(usb_camera("1-2", [capture_node(1)], vendor="2560zz"))
    devices.plug(usb_camera("1-3", [capture_node(2)], product_id="c0d6 1"))
    devices.plug(platform_node(3, parent="vid_2560&pid_c0d6"))
    devices.plug(usb_camera("1-4", [capture_node(4)]))
    assert shipped.count() == (True, scan_trace("platform", "platform", "platform", "platform", "target"))
    found, _, record = shipped.info(0)
    assert found and text(record.device_path) == usb_path("1-4", 4)


def test_the_package_lists_each_camera_with_what_opens_it_and_tells_it_apart(devices):
    # `python -m zorvekcam` as installed: the node it names is the one the camera's path ends in; it
    # asks only the target cameras' nodes what they are, and no node of the other camera.
    devices.plug(usb_camera("1-2.4", [capture_node(3), metadata_node(4)], product=b"Test Camera", serial=b"SN0042"))
    devices.plug(usb_camera("1-1", [capture_node(0), metadata_node(1)], vendor="046d", product_id="0825"))
    devices.plug(platform_node(5))
    devices.plug(usb_camera("2-1", [capture_node(6), metadata_node(7)], product=b"Second", serial=b"\x1b[2J"))
    out = subprocess.run([SHIPPED_PYTHON, "-m", "zorvekcam", "--json"], capture_output=True, text=True, timeout=60)
    assert (out.returncode, out.stderr) == (0, "")
    assert json.loads(out.stdout) == [
        {"name": "Test Camera", "vid": "2560", "pid": "C0D6", "path": usb_path("1-2.4", 3).decode(),
         "node": "/dev/video3", "index": 3, "backend": 200, "serial": "SN0042", "port": "1-2.4"},
        {"name": "Second", "vid": "2560", "pid": "C0D6", "path": usb_path("2-1", 6).decode(),
         "node": "/dev/video6", "index": 6, "backend": 200, "serial": "\x1b[2J", "port": "2-1"}]
    assert devices.queries.asked == {"/dev/video3": 1, "/dev/video4": 1, "/dev/video6": 1, "/dev/video7": 1}
