"""The shipped module over fake V4L2 devices: the machine's cameras as the sysfs source lists them,
seen through the module's three queries, in a child process (see zorvek_child.py)."""

import errno
import importlib.util
import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

import fake_v4l2
from conftest import SHIPPED_PYTHON, Record, text
from fake_v4l2 import Node, camera, capture_node, metadata_node, platform_node, usb_camera

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "module"))
import scripted  # noqa: E402  (the module's trace, which a scan writes whatever the source)

# New records are zeroed.
UNTOUCHED = Record(bytes(50), bytes(5), bytes(5), bytes(550))
NO_DEVICE = "initialize is statredNotInitialized ErrorDevice is not connected"


def scan_trace(*listed):
    """What a scan writes over the listed devices, in walk order: "target", "other" (a USB camera
    of another model), "platform" (a path without IDs), "unreadable" (a path that cannot be read)."""
    paths = {
        "target": scripted.target_path(),
        "other": scripted.other_path(),
        "platform": r"\\?\video4linux#vivid.0",
        "unreadable": None,
    }
    return scripted.scan_trace([scripted.Device(paths[kind]) for kind in listed])


def usb_path(port, node, interface=0):
    """A record's devicePath: the source's path, upper-cased."""
    path = rf"\\?\usb#vid_2560&pid_c0d6&mi_{interface:02x}#{port}#{{65e8773d-8f56-11d0-a3b9-00a0c9223196}}\video{node}"
    return path.upper().encode()


def found(shipped, index):
    """getDeviceInfo's (result, trace, name, path)."""
    result, trace, record = shipped.info(index)
    return result, trace, text(record.friendly_name), text(record.device_path)


@pytest.mark.parametrize("shipped", ["venv", "debian"], indirect=True)
def test_no_device_fails_the_scan_and_a_target_with_its_metadata_node_is_one_device(devices, shipped):
    assert shipped.count() == (False, NO_DEVICE)
    assert shipped.info(0) == (False, NO_DEVICE + "InvalidDeviceIndex", UNTOUCHED)
    devices.plug(camera("1-2.4", 0, product=b"Zorvek Cam 30"))
    assert shipped.count() == (True, scan_trace("target"))
    assert shipped.info(0) == (
        True,
        scan_trace("target"),
        Record(b"Zorvek Cam 30".ljust(50, b"\0"), b"2560\0", b"C0D6\0", usb_path("1-2.4", 0).ljust(550, b"\0")),
    )
    assert shipped.info(1) == (False, scan_trace("target") + "InvalidDeviceIndex", UNTOUCHED)
    # Both nodes were asked, in every walk: three scans and one second walk.
    assert devices.queries.asked == {"/dev/video0": 4, "/dev/video1": 4}


def test_nodes_count_by_what_they_answer_else_by_their_index_and_unreadable_ids_skip_a_camera(devices, shipped):
    # An output node is its driver's first (index 0): only asking the node tells it apart.
    devices.plug(usb_camera("1-1", [Node(0, index=0, device_caps=0x00000002 | fake_v4l2.STREAMING), metadata_node(1)]))
    devices.plug(usb_camera("1-2", [capture_node(2)], product_id=None))
    devices.plug(usb_camera("1-3", [Node(3, index=0, device_caps=None), Node(4, index=1, device_caps=None)]))
    assert shipped.count() == (True, scan_trace("unreadable", "target"))
    assert devices.queries.asked == {"/dev/video0": 1, "/dev/video1": 1, "/dev/video2": 1}
    assert found(shipped, 0)[3] == usb_path("1-3", 3)


def test_two_targets_among_others_in_node_order(devices, shipped):
    devices.plug(camera("1-1", 0, vendor="046d", product_id="0825", product=b"Webcam C270"))
    devices.plug(usb_camera("3-1", [capture_node(10)], interface=2, product=b"Target at video10"))
    devices.plug(platform_node(4))
    devices.plug(camera("1-2.4", 2, product=b"Target at video2"))
    listed = scan_trace("other", "target", "platform", "target")
    assert shipped.count() == (True, listed)

    assert found(shipped, 0) == (True, listed, b"Target at video2", usb_path("1-2.4", 2))
    assert found(shipped, 1) == (True, listed, b"Target at video10", usb_path("3-1", 10, 2))
    assert shipped.info(2)[:2] == (False, listed + "InvalidDeviceIndex")


def test_unplugged_between_count_and_info_then_replugged_into_another_port(devices, shipped):
    plugged = devices.plug(camera("1-2.4", 0))
    assert shipped.count() == (True, scan_trace("target"))
    devices.unplug(plugged)
    assert shipped.info(0) == (False, NO_DEVICE + "InvalidDeviceIndex", UNTOUCHED)
    devices.plug(usb_camera("2-1.3.1", [capture_node(0)]))
    assert found(shipped, 0)[3] == usb_path("2-1.3.1", 0)


def test_unplugged_between_the_scan_and_the_record_walk(devices, shipped):
    devices.plug(usb_camera("1-1", [capture_node(0)], vendor="046d", product_id="0825"))
    plugged = devices.plug(usb_camera("1-2", [capture_node(1)]))
    # getDeviceInfo asks the node once in its scan and again in its own walk: pulled out then.
    devices.queries.hooks[("/dev/video1", 2)] = lambda: devices.vanish(plugged)
    assert shipped.info(0) == (False, scan_trace("other", "target") + "InvalidDeviceIndex", UNTOUCHED)


def test_long_and_non_ascii_product_names_are_cut_safely(devices, shipped):
    long_ascii = b"A USB camera product string that runs to sixty bytes, long!!"
    for number, product in enumerate([long_ascii, b"Cam\xff\xfera " + "é".encode() * 30]):
        devices.plug(usb_camera(f"1-{number + 1}", [capture_node(number)], product=product))
    # 49 bytes and the terminator; a character that would not fit whole is left out.
    assert [shipped.info(i)[2].friendly_name for i in range(2)] == [
        long_ascii[:49] + b"\0",
        "Cam\ufffd\ufffdra ".encode() + "é".encode() * 18 + b"\0\0",
    ]


def test_only_four_hex_digit_ids_of_the_usb_device_itself_match_in_either_case(devices, shipped):
    devices.plug(usb_camera("1-1", [capture_node(0)], vendor="25601"))
    devices.plug(usb_camera("1-2", [capture_node(1)], vendor="2560zz"))
    devices.plug(usb_camera("1-3", [capture_node(2)], product_id="c0d6 1"))
    devices.plug(platform_node(3, parent="vid_2560&pid_c0d6"))
    devices.plug(usb_camera("1-4", [capture_node(4)], product_id="C0D6"))
    devices.plug(usb_camera("1-5", [capture_node(5, name="UVC Camera (2560:c0d6)")], product_id="c0D6", product=None))
    assert shipped.count() == (True, scan_trace("platform", "platform", "platform", "platform", "target", "target"))
    records = [shipped.info(i)[2] for i in range(2)]
    assert [(r.vid, r.pid, text(r.device_path)) for r in records] == [
        (b"2560\0", b"C0D6\0", usb_path("1-4", 4)),
        (b"2560\0", b"C0D6\0", usb_path("1-5", 5)),
    ]
    # A device without a product string is named by its node.
    assert text(records[1].friendly_name) == b"UVC Camera (2560:c0d6)"


def test_the_package_lists_each_camera_with_what_opens_it_and_tells_it_apart(devices):
    # `python -m zorvekcam` as installed: the node it names is the one the camera's path ends in; it
    # asks only the target cameras' nodes what they are, and no node of the other camera.
    devices.plug(camera("1-2.4", 3, product=b"Test Camera", serial=b"SN0042"))
    devices.plug(camera("1-1", 0, vendor="046d", product_id="0825"))
    devices.plug(platform_node(5))
    devices.plug(camera("2-1", 6, product=b"Second", serial=b"\x1b[2J"))
    out = subprocess.run([SHIPPED_PYTHON, "-m", "zorvekcam", "--json"], capture_output=True, text=True, timeout=60)
    assert (out.returncode, out.stderr) == (0, "")
    assert json.loads(out.stdout) == [
        {
            "name": "Test Camera",
            "vid": "2560",
            "pid": "C0D6",
            "path": usb_path("1-2.4", 3).decode(),
            "node": "/dev/video3",
            "index": 3,
            "backend": 200,
            "serial": "SN0042",
            "port": "1-2.4",
            "moniker": None,
        },
        {
            "name": "Second",
            "vid": "2560",
            "pid": "C0D6",
            "path": usb_path("2-1", 6).decode(),
            "node": "/dev/video6",
            "index": 6,
            "backend": 200,
            "serial": "\x1b[2J",
            "port": "2-1",
            "moniker": None,
        },
    ]
    assert devices.queries.asked == {"/dev/video3": 1, "/dev/video4": 1, "/dev/video6": 1, "/dev/video7": 1}


# Root reads a folder whatever its mode: as root, the child runs without the capabilities that let it.
UNPRIVILEGED = (
    ["setpriv", "--inh-caps=-dac_override,-dac_read_search", "--bounding-set=-dac_override,-dac_read_search"]
    if os.geteuid() == 0
    else []
)
LISTING_FAILURE = """
import json, zorvekcam
try:
    zorvekcam.list_devices()
except zorvekcam.EnumerationError as error:
    print(json.dumps([error.step, error.errno, error.strerror, error.hresult, str(error)]))
"""


def test_an_unreadable_class_folder_is_told_as_the_failed_opendir_with_its_errno_and_no_hresult(devices):
    devices.plug(camera("1-2", 0))
    folder = Path(devices.root) / "sys" / "class" / "video4linux"
    mode = folder.stat().st_mode
    folder.chmod(0)
    try:
        listing = subprocess.run(
            [*UNPRIVILEGED, SHIPPED_PYTHON, "-c", LISTING_FAILURE], capture_output=True, text=True, timeout=60
        )
        command = subprocess.run(
            [*UNPRIVILEGED, SHIPPED_PYTHON, "-m", "zorvekcam"], capture_output=True, text=True, timeout=60
        )
    finally:
        folder.chmod(mode)
    said = (
        "listing the video input devices failed: opendir /sys/class/video4linux: "
        f"{os.strerror(errno.EACCES)} (errno {errno.EACCES})"
    )
    assert (listing.returncode, listing.stderr) == (0, "")
    assert json.loads(listing.stdout) == [
        "opendir /sys/class/video4linux",
        errno.EACCES,
        os.strerror(errno.EACCES),
        None,
        said,
    ]
    assert (command.returncode, command.stdout, command.stderr) == (3, "", f"zorvekcam: {said}\n")


def test_the_package_tests_make_the_paths_this_source_gives(devices, shipped):
    # tests/zorvekcam's linux_path() asks the test build for the path builder this source uses.
    package_tests = Path(__file__).resolve().parents[1] / "zorvekcam" / "conftest.py"
    if not (scripted.SCRIPTED_DIR / "libzorvek_scripted.so").is_file():
        pytest.skip(scripted.NOT_BUILT)
    located = importlib.util.spec_from_file_location("zorvekcam_conftest", package_tests)
    module = importlib.util.module_from_spec(located)
    path = sys.path[:]
    located.loader.exec_module(module)
    sys.path[:] = path  # it puts the test build first, for the package tests' imports only
    devices.plug(camera("1-2", 0))
    devices.plug(usb_camera("3-1.4", [capture_node(6)], interface=2))
    assert shipped.list() == [
        ["/dev/video0", module.linux_path("2560", "c0d6", "video0", port="1-2").upper()],
        ["/dev/video6", module.linux_path("2560", "c0d6", "video6", "3-1.4", 2).upper()],
    ]
