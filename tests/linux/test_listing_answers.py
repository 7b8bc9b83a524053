"""What the package's listing asks the nodes, over fake V4L2 devices: each node once for as long as it
is the same registration, or never where udev's database holds its own answer; and always the same
cameras as Zorvek's scan, which asks every node on every call. In one child process each (see
zorvek_child.py), whose listings share what they learnt."""

import os
import time

from fake_v4l2 import Node, camera, capture_node, metadata_node, udev_entry, usb_camera

OUTPUT = 0x00000002 | 0x04000000  # a video output node, index 0 of its driver


def opened(devices):
    return devices.queries.take()["opened"]


def nodes(*numbers):
    return {f"/dev/video{number}": 1 for number in numbers}


def listed(shipped):
    return [node for node, _ in shipped.list()]


def listing_opens(devices, shipped):
    """The nodes the package lists, and the nodes that listing opened."""
    devices.queries.take()
    return listed(shipped), opened(devices)


def agreed(shipped):
    """The package's listing, once it is checked to name the cameras Zorvek's scan finds."""
    cameras = shipped.list()
    assert [path.upper() for _, path in cameras] == shipped.scanned()
    return [node for node, _ in cameras]


def test_each_node_is_asked_once_per_registration(devices, shipped):
    # No udev database at all (no /run/udev), as in a container: the nodes themselves answer.
    cameras = [devices.plug(camera(f"1-{k + 1}", 2 * k)) for k in range(3)]
    devices.plug(camera("2-1", 6, vendor="046d", product_id="0825"))
    # Only the target cameras' nodes, once each.
    assert listing_opens(devices, shipped) == (["/dev/video0", "/dev/video2", "/dev/video4"], nodes(0, 1, 2, 3, 4, 5))
    assert agreed(shipped) == ["/dev/video0", "/dev/video2", "/dev/video4"]
    # The scan asks every node on every call; the listing none again.
    assert opened(devices)["/dev/video6"] >= 1
    assert [listed(shipped) for _ in range(3)] == [["/dev/video0", "/dev/video2", "/dev/video4"]] * 3
    assert opened(devices) == {}

    # Another camera of the model in the same port, its nodes the other way round: only its nodes
    # are asked, and the capture node is video5 now.
    devices.unplug(cameras[2])
    devices.plug(usb_camera("1-3", [Node(4, index=0, device_caps=OUTPUT), capture_node(5)]))
    assert listing_opens(devices, shipped) == (["/dev/video0", "/dev/video2", "/dev/video5"], nodes(4, 5))
    assert agreed(shipped) == ["/dev/video0", "/dev/video2", "/dev/video5"]

    # Gone, then another camera on the same nodes in another port.
    devices.unplug(cameras[0])
    assert listed(shipped) == ["/dev/video2", "/dev/video5"]
    devices.plug(usb_camera("3-1", [metadata_node(0), capture_node(1)]))
    assert listing_opens(devices, shipped) == (["/dev/video1", "/dev/video2", "/dev/video5"], nodes(0, 1))
    assert agreed(shipped) == ["/dev/video1", "/dev/video2", "/dev/video5"]


def test_a_node_registered_again_is_asked_again_whichever_part_tells_it(devices, shipped):
    # The driver bound again: the same USB device (the same devnum), new nodes, the other way round.
    bound = devices.plug(camera("1-1", 0, devnum=7))
    assert listed(shipped) == ["/dev/video0"]
    # sysfs never gives a new directory a removed one's inode number, and the testbed's file system
    # does not while the removed one is open.
    held = [os.open(devices.root + path, os.O_RDONLY | os.O_DIRECTORY) for path in bound.syspaths[:2]]
    try:
        devices.unplug(bound)
        rebound = devices.plug(usb_camera("1-1", [metadata_node(0), capture_node(1)], devnum=7))
    finally:
        for fd in held:
            os.close(fd)
    assert listing_opens(devices, shipped) == (["/dev/video1"], nodes(0, 1))
    # Where a file system hands an inode number out again, the USB device's new devnum tells another
    # camera in the same port: here the same directories, another device behind them.
    devices.testbed.set_attribute(rebound.syspaths[-1], "devnum", "8")
    devices.queries.nodes["/dev/video0"] = capture_node(0)
    devices.queries.nodes["/dev/video1"] = metadata_node(1)
    assert listing_opens(devices, shipped) == (["/dev/video0"], nodes(0, 1))


def test_listings_at_once_on_many_threads_agree_and_ask_each_node_at_most_once_each(devices, shipped):
    for k in range(4):
        devices.plug(camera(f"1-{k + 1}", 2 * k))
    devices.queries.take()
    answers = shipped.list("listed_at_once(6, 20)")
    assert [[node for node, _ in answer] for answer in answers] == [
        ["/dev/video0", "/dev/video2", "/dev/video4", "/dev/video6"]
    ]
    # Threads that start together may each ask a node the first time, never again.
    counts = opened(devices)
    assert set(counts) == set(nodes(*range(8))) and max(counts.values()) <= 6
    shipped.list("listed_at_once(6, 5)")
    assert opened(devices) == {}


def test_udev_entries_with_the_nodes_own_answers_spare_opening_them_unless_older(devices, udev_database, shipped):
    first = devices.plug(camera("1-1", 0))
    udev_entry(first.nodes[0], ":capture:")
    udev_entry(first.nodes[1], ":")
    # An entry of a udev that reads the whole device's capabilities (no version line): the metadata
    # node says "capture" too, so both nodes are asked.
    second = devices.plug(camera("1-2", 2))
    for node in second.nodes:
        udev_entry(node, ":capture:", versioned=False)
    # Nodes the user may not open, whose entries answer: an output node first, then the capture node.
    locked = devices.plug(usb_camera("1-3", [Node(4, index=0, device_caps=None), Node(5, index=1, device_caps=None)]))
    udev_entry(locked.nodes[0], ":video_output:")
    udev_entry(locked.nodes[1], ":capture:")
    assert listing_opens(devices, shipped) == (["/dev/video0", "/dev/video2", "/dev/video5"], nodes(2, 3))
    # The scan, which cannot ask them either, guesses the locked camera's first node.
    assert [path[-7:] for path in shipped.scanned()] == ["\\VIDEO0", "\\VIDEO2", "\\VIDEO4"]
    assert listing_opens(devices, shipped)[1] == {}

    # Replugged, with its nodes the other way round, before udev has taken the former entries away
    # or written the new ones: the entries are older than the nodes, which are asked.
    time.sleep(0.05)
    devices.unplug(first, udev_catches_up=False)
    devices.plug(usb_camera("1-1", [metadata_node(0), capture_node(1)]))
    assert listing_opens(devices, shipped) == (["/dev/video1", "/dev/video2", "/dev/video5"], nodes(0, 1))
    assert [path[-7:] for path in shipped.scanned()] == ["\\VIDEO1", "\\VIDEO2", "\\VIDEO4"]
