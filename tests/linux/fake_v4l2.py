"""Fake V4L2 devices in a umockdev testbed: USB cameras and platform nodes as the kernel shows them
in sysfs and /dev, with a VIDIOC_QUERYCAP answer per node.

umockdev's rules, learnt the hard way: one testbed lives for the whole session (a testbed that is
garbage-collected takes the redirection of /sys with it, and later tests silently read the real
/sys); devices leave deepest first, each with a "remove" uevent before it goes; clear() is never
called. The ioctl handler runs on a thread of this process and needs its interpreter lock, so the
module under test is called from a child process (see zorvek_child.py).
"""
import errno
import os
import socket
import struct
import threading
import time
from dataclasses import dataclass, field

import gi

gi.require_version("UMockdev", "1.0")
from gi.repository import UMockdev  # noqa: E402

VIDIOC_QUERYCAP = 0x80685600  # _IOR('V', 0, struct v4l2_capability), 104 bytes
CAPTURE = 0x00000001
META_CAPTURE = 0x00800000
STREAMING = 0x04000000
DEVICE_CAPS = 0x80000000
# What a UVC camera's driver says of the whole device; each node's device caps say what it is.
UVC_CAPABILITIES = CAPTURE | META_CAPTURE | STREAMING | DEVICE_CAPS

USB_ROOT = "/devices/pci0000:00/0000:00:14.0"


@dataclass
class Node:
    """One /dev/videoN. `device_caps` None: its /dev file cannot be opened."""

    number: int
    index: int = 0
    device_caps: int | None = CAPTURE | STREAMING
    capabilities: int = UVC_CAPABILITIES
    name: str = "Camera"

    @property
    def devnode(self):
        return f"/dev/video{self.number}"


def capture_node(number, name="Camera"):
    return Node(number, 0, CAPTURE | STREAMING, name=name)


def metadata_node(number, name="Camera"):
    return Node(number, 1, META_CAPTURE | STREAMING, name=name)


@dataclass
class Device:
    """A device tree: its sysfs paths (deepest first), its umockdev description and its nodes."""

    syspaths: list
    description: str
    nodes: list = field(default_factory=list)
    gone: bool = False  # its sysfs entries were removed already


def _node_block(parent, parent_name, node):
    lines = [f"P: {parent}/video4linux/video{node.number}"]
    if node.device_caps is not None:
        lines.append(f"N: video{node.number}=00")
    lines += [
        "E: SUBSYSTEM=video4linux",
        f"E: DEVNAME=/dev/video{node.number}",
        f"A: name={node.name}",
        f"A: index={node.index}",
        f"A: dev=81:{node.number}",
        f"L: device=../../../{parent_name}",
    ]
    return "\n".join(lines)


def usb_camera(port, nodes, vendor="2560", product_id="c0d6", product=b"Zorvek Cam", interface=0, serial=None):
    """A UVC camera at `port` (e.g. "1-2.4"), its nodes under one interface. IDs are written as
    given; `product` and `serial` are the USB product string's and serial number's bytes (None: the
    device has none)."""
    bus, chain = port.split("-", 1)
    hops = chain.split(".")
    device = f"{USB_ROOT}/usb{bus}/" + "/".join(f"{bus}-{'.'.join(hops[:i + 1])}" for i in range(len(hops)))
    interface_name = f"{port}:1.{interface}"
    interface_path = f"{device}/{interface_name}"
    usb_lines = [f"P: {device}", "E: SUBSYSTEM=usb", "E: DEVTYPE=usb_device"]
    if vendor is not None:
        usb_lines.append(f"A: idVendor={vendor}")
    if product_id is not None:
        usb_lines.append(f"A: idProduct={product_id}")
    if product is not None:
        usb_lines.append(f"H: product={product.hex().upper()}")
    if serial is not None:
        usb_lines.append(f"H: serial={serial.hex().upper()}")
    blocks = [_node_block(interface_path, interface_name, n) for n in nodes]
    blocks.append(f"P: {interface_path}\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nA: bInterfaceNumber={interface:02x}")
    blocks.append("\n".join(usb_lines))
    syspaths = [f"/sys{interface_path}/video4linux/video{n.number}" for n in nodes]
    return Device(syspaths + [f"/sys{interface_path}", f"/sys{device}"], "\n\n".join(blocks) + "\n", nodes)


def platform_node(number, name="vivid-000-vid-cap", parent="vivid.0"):
    """A capture node of a platform driver: no USB device above it."""
    node = Node(number, 0, CAPTURE | STREAMING, capabilities=CAPTURE | STREAMING | DEVICE_CAPS, name=name)
    path = f"/devices/platform/{parent}"
    description = _node_block(path, parent, node) + f"\n\nP: {path}\nE: SUBSYSTEM=platform\n"
    return Device([f"/sys{path}/video4linux/video{number}", f"/sys{path}"], description, [node])


class QueryCap(UMockdev.IoctlBase):
    """Answers VIDIOC_QUERYCAP for every attached node, as its driver would; any other request
    fails with ENOTTY. A hook may run on a node's n-th question, for example to unplug it; `delay`
    seconds pass before each answer, as with a slow device."""

    def __init__(self):
        super().__init__()
        self.lock = threading.Lock()
        self.nodes = {}
        self.asked = {}
        self.hooks = {}
        self.errors = []
        self.delay = 0.0

    def reset(self):
        with self.lock:
            self.asked.clear()
            self.hooks.clear()
            self.errors.clear()
            self.delay = 0.0

    def do_handle_ioctl(self, client):
        try:
            devnode = client.get_devnode()
            with self.lock:
                asked = self.asked[devnode] = self.asked.get(devnode, 0) + 1
                node = self.nodes.get(devnode)
                hook = self.hooks.get((devnode, asked))
            if self.delay:
                time.sleep(self.delay)
            if hook is not None:
                hook()
                client.complete(-1, errno.ENODEV)
            elif node is None:
                client.complete(-1, errno.ENODEV)
            elif client.get_request() != VIDIOC_QUERYCAP:
                client.complete(-1, errno.ENOTTY)
            else:
                answer = struct.pack("16s32s32sIII12x", b"uvcvideo", node.name.encode(), b"usb-0000:00:14.0",
                                     0x060100, node.capabilities, node.device_caps)
                client.get_arg().resolve(0, len(answer)).update(0, list(answer))
                client.complete(0, 0)
        except Exception as error:  # an exception must not leave the child's ioctl waiting
            self.errors.append(repr(error))
            client.complete(-1, errno.EIO)
        return True


class Bench:
    """The session's testbed and the devices plugged into it."""

    def __init__(self):
        self.testbed = UMockdev.Testbed.new()
        self.root = self.testbed.get_root_dir()
        self.queries = QueryCap()
        self.plugged = []
        self.attached = set()

    def plug(self, device):
        """Adds the device, whose nodes answer from the moment the testbed announces them with an
        "add" uevent each (adding a device sends it)."""
        for node in device.nodes:
            if node.device_caps is not None:
                self.queries.nodes[node.devnode] = node
                if node.devnode not in self.attached:
                    assert self.testbed.attach_ioctl(node.devnode, self.queries)
                    self.attached.add(node.devnode)
        assert self.testbed.add_from_string(device.description)
        for node in device.nodes:
            if node.device_caps is None:
                # A socket where the device file should be: open() fails (ENXIO), even for root.
                with socket.socket(socket.AF_UNIX) as blocker:
                    blocker.bind(f"{self.root}/dev/video{node.number}")
        self.plugged.append(device)
        return device

    def vanish(self, device):
        """Takes the device out of sysfs only: what a walk sees of a camera pulled out while the
        walk runs. Safe from the ioctl handler; unplug() finishes the job."""
        if not device.gone:
            for syspath in device.syspaths:
                self.testbed.uevent(syspath, "remove")
                self.testbed.remove_device(syspath)
            device.gone = True

    def unplug(self, device):
        # The handler stays attached: a watcher may be asking a node as it goes (an unplugged node
        # answers ENODEV), and umockdev would cut off a process whose question was under way.
        self.plugged.remove(device)
        for node in device.nodes:
            self.queries.nodes.pop(node.devnode, None)
        self.vanish(device)
        # umockdev leaves the device files behind.
        for node in device.nodes:
            try:
                os.unlink(f"{self.root}/dev/video{node.number}")
            except FileNotFoundError:
                pass

    def unplug_all(self):
        while self.plugged:
            self.unplug(self.plugged[-1])
