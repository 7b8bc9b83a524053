"""Fake V4L2 devices in a umockdev testbed: USB cameras and platform nodes as the kernel shows them
in sysfs and /dev, with a VIDIOC_QUERYCAP answer per node.

umockdev's rules, learnt the hard way: one testbed lives for the whole session (a testbed that is
garbage-collected takes the redirection of /sys with it, and later tests silently read the real
/sys); devices come parents first, as the kernel adds them, and leave deepest first, each with a
"remove" uevent before it goes; clear() is never called; the testbed's own folder is never beneath
/dev (see _testbed_outside_dev); no uevent is sent while a listener has not read the last one (see
Bench._wait_for_listeners). The ioctl handler runs on a thread of this process and needs its
interpreter lock, so the module under test is called from a child process (see zorvek_child.py).
"""

import contextlib
import errno
import itertools
import os
import socket
import struct
import tempfile
import threading
import time
from dataclasses import dataclass

import gi

gi.require_version("UMockdev", "1.0")
from gi.repository import UMockdev  # noqa: E402

VIDIOC_QUERYCAP = 0x80685600  # _IOR('V', 0, struct v4l2_capability), 104 bytes
VIDIOC_ENUM_FMT = 0xC0405602  # _IOWR('V', 2, struct v4l2_fmtdesc), 64 bytes
VIDIOC_ENUMINPUT = 0xC050561A  # _IOWR('V', 26, struct v4l2_input), 80 bytes
VIDIOC_G_INPUT = 0x80045626  # _IOR('V', 38, int)
VIDIOC_ENUM_FRAMESIZES = 0xC02C564A  # _IOWR('V', 74, struct v4l2_frmsizeenum), 44 bytes
VIDIOC_ENUM_FRAMEINTERVALS = 0xC034564B  # _IOWR('V', 75, struct v4l2_frmivalenum), 52 bytes
BUF_TYPE_VIDEO_CAPTURE = 1
# v4l2_frmsizetypes and v4l2_frmivaltypes: the same numbers for sizes and intervals.
DISCRETE, CONTINUOUS, STEPWISE = 1, 2, 3
INPUT_TYPE_CAMERA = 2
COMPRESSED = 0x0001  # V4L2_FMT_FLAG_COMPRESSED
CAPTURE = 0x00000001
META_CAPTURE = 0x00800000
STREAMING = 0x04000000
DEVICE_CAPS = 0x80000000
# What a UVC camera's driver says of the whole device; each node's device caps say what it is.
UVC_CAPABILITIES = CAPTURE | META_CAPTURE | STREAMING | DEVICE_CAPS

USB_ROOT = "/devices/pci0000:00/0000:00:14.0"


# A node's mode table, as its driver declares it: formats, each with its frame sizes, each with its
# frame intervals (seconds per frame, numerator and denominator). ENDLESS in place of a level's
# entries: the node answers every index of that level, as no real driver does.
ENDLESS = "endless"


@dataclass(frozen=True)
class Intervals:
    """A range of frame intervals, `shortest` to `longest` (fractions of a second as (num, den)), by
    `step`; continuous, the step is 1/1 as the kernel gives it."""

    shortest: tuple
    longest: tuple
    step: tuple = (1, 1)
    continuous: bool = False

    @property
    def kind(self):
        return CONTINUOUS if self.continuous else STEPWISE


@dataclass(frozen=True)
class Size:
    """One frame size, at the intervals `rates`: a tuple of (num, den), an Intervals, or ENDLESS."""

    width: int
    height: int
    rates: tuple | Intervals | str = ((1, 30),)

    def holds(self, width, height):
        return (width, height) == (self.width, self.height)


@dataclass(frozen=True)
class Sizes:
    """A range of frame sizes, stepwise by (`step_width`, `step_height`) or continuous (steps of 1);
    every size in it at the intervals `rates`."""

    min_width: int
    min_height: int
    max_width: int
    max_height: int
    step_width: int = 1
    step_height: int = 1
    continuous: bool = False
    rates: tuple | Intervals | str = ((1, 30),)

    @property
    def kind(self):
        return CONTINUOUS if self.continuous else STEPWISE

    def holds(self, width, height):
        def within(value, low, high, step):
            return low <= value <= high and (step == 0 or (value - low) % step == 0)

        return within(width, self.min_width, self.max_width, self.step_width) and within(
            height, self.min_height, self.max_height, self.step_height
        )


@dataclass(frozen=True)
class Format:
    """One pixel format: its FourCC (4 bytes, printable or not), description and sizes (a tuple of
    Size and Sizes, or ENDLESS)."""

    fourcc: bytes
    description: str
    sizes: tuple | str
    flags: int = 0


def endless_format(index):
    """The format an endless node answers at `index`: each another FourCC, with one size."""
    return Format(b"E" + b"%03d" % (index % 1000), f"Endless {index}", (Size(640, 480),))


def endless_size(index):
    return Size(16 * (index % 4096 + 1), 16 * (index % 4096 + 1))


# What the tests' fake cameras declare: every kind of entry a UVC camera's driver gives, and those
# that only other drivers give (ranges), each kind once. A range is the only entry of its level, as
# the kernel's API has it.
DISCRETE_MODES = (
    Format(
        b"MJPG",
        "Motion-JPEG",
        flags=COMPRESSED,
        sizes=(Size(1280, 720, ((1, 30), (1, 15))), Size(640, 480, ((1, 60), (1, 30), (1001, 30000), (1, 5)))),
    ),
    Format(b"YUYV", "YUYV 4:2:2", (Size(640, 480, ((1, 30), (1001, 30000))), Size(320, 240, ((1, 30),)))),
)
RANGE_MODES = (
    Format(b"YUYV", "YUYV 4:2:2", (Sizes(160, 120, 1280, 960, 16, 8, rates=((1, 30), (1, 15))),)),
    Format(b"GREY", "8-bit Greyscale", (Sizes(16, 16, 4096, 2160, continuous=True, rates=((1, 30),)),)),
    Format(
        b"RGB3",
        "24-bit RGB 8-8-8",
        (
            Size(640, 480, Intervals((1, 60), (1, 1), continuous=True)),
            Size(1920, 1080, Intervals((1, 30), (1, 5), (1, 150))),
        ),
    ),
)
UNKNOWN_FOURCC_MODES = (
    Format(b"MJPG", "Motion-JPEG", flags=COMPRESSED, sizes=(Size(1920, 1080, ((1, 30),)),)),
    Format(b"ZV12", "Zorvek private", (Size(640, 480, ((1, 30),)),)),
    Format(b"Z\x01\x7fQ", "Unprintable", (Size(320, 240, ((1, 15),)),)),
)


@dataclass
class Node:
    """One /dev/videoN. `device_caps` None: its /dev file cannot be opened. `modes`: its mode table
    (a tuple of Format, or ENDLESS), whose enumerations it answers with its one input, as uvcvideo
    does; None: it answers nothing but VIDIOC_QUERYCAP (ENOTTY)."""

    number: int
    index: int = 0
    device_caps: int | None = CAPTURE | STREAMING
    capabilities: int = UVC_CAPABILITIES
    name: str = "Camera"
    modes: tuple | str | None = None

    @property
    def devnode(self):
        return f"/dev/video{self.number}"


def capture_node(number, name="Camera", modes=None):
    return Node(number, 0, CAPTURE | STREAMING, name=name, modes=modes)


def metadata_node(number, name="Camera", modes=None):
    return Node(number, 1, META_CAPTURE | STREAMING, name=name, modes=modes)


def camera(port, first, modes=None, **options):
    """A UVC camera (the target model unless `options` say otherwise): capture node `first`, then
    its metadata node. With `modes`, the capture node's mode table, the metadata node answers its
    enumerations with no video format, as uvcvideo's does."""
    metadata = metadata_node(first + 1, modes=None if modes is None else ())
    return usb_camera(port, [capture_node(first, modes=modes), metadata], **options)


@dataclass
class Device:
    """A device tree: its sysfs paths (deepest first), its umockdev description and its nodes."""

    syspaths: list
    description: str
    nodes: list
    gone: bool = False  # its sysfs entries were removed already


def _node_block(parent, parent_name, node):
    number = node.number
    device_file = [f"N: video{number}=00"] if node.device_caps is not None else []
    # GStreamer's device provider passes over a node without the property that udev's v4l_id gives
    # every node it could ask; a node with a mode table is one such.
    versioned = ["E: ID_V4L_VERSION=2"] if node.modes is not None else []
    return "\n".join(
        [
            f"P: {parent}/video4linux/video{number}",
            *device_file,
            "E: SUBSYSTEM=video4linux",
            f"E: DEVNAME=/dev/video{number}",
            *versioned,
            f"A: name={node.name}",
            f"A: index={node.index}",
            f"A: dev=81:{number}",
            f"L: device=../../../{parent_name}",
        ]
    )


_devnums = itertools.count(2)


def usb_camera(
    port, nodes, vendor="2560", product_id="c0d6", product=b"Zorvek Cam", interface=0, serial=None, devnum=None
):
    """A USB camera at `port` (e.g. "1-2.4"), its nodes under one interface; IDs as given, `product`
    and `serial` as bytes (None: the device has none). Each gets a devnum of its own, as the USB core
    numbers every device it enumerates, unless `devnum` is given."""
    bus, chain = port.split("-", 1)
    hops = chain.split(".")
    device = f"{USB_ROOT}/usb{bus}/" + "/".join(f"{bus}-{'.'.join(hops[: i + 1])}" for i in range(len(hops)))
    interface_name = f"{port}:1.{interface}"
    interface_path = f"{device}/{interface_name}"
    usb_lines = [
        f"P: {device}",
        "E: SUBSYSTEM=usb",
        "E: DEVTYPE=usb_device",
        f"A: busnum={bus}",
        f"A: devnum={devnum if devnum is not None else next(_devnums) % 127 + 1}",
    ]
    attributes = {"A: idVendor": vendor, "A: idProduct": product_id, "H: product": product, "H: serial": serial}
    for key, value in attributes.items():
        if value is not None:
            usb_lines.append(f"{key}={value.hex().upper() if isinstance(value, bytes) else value}")
    # Parents first, as the kernel adds them: a node's "add" uevent comes when its USB device's
    # attributes are there to read.
    blocks = [
        "\n".join(usb_lines),
        f"P: {interface_path}\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nA: bInterfaceNumber={interface:02x}",
    ]
    blocks += [_node_block(interface_path, interface_name, n) for n in nodes]
    syspaths = [f"/sys{interface_path}/video4linux/video{n.number}" for n in nodes]
    return Device(syspaths + [f"/sys{interface_path}", f"/sys{device}"], "\n\n".join(blocks) + "\n", nodes)


def platform_node(number, name="vivid-000-vid-cap", parent="vivid.0"):
    """A capture node of a platform driver: no USB device above it."""
    node = Node(number, 0, CAPTURE | STREAMING, capabilities=CAPTURE | STREAMING | DEVICE_CAPS, name=name)
    path = f"/devices/platform/{parent}"
    description = _node_block(path, parent, node) + f"\n\nP: {path}\nE: SUBSYSTEM=platform\n"
    return Device([f"/sys{path}/video4linux/video{number}", f"/sys{path}"], description, [node])


class QueryCap(UMockdev.IoctlBase):
    """Answers VIDIOC_QUERYCAP for every attached node as its driver would (for the nodes of
    `answering`, a QueryCap, when given), and for a node with a mode table its enumerations and its
    one input; anything else ENOTTY. A hook may run on a node's n-th question, hooks[(devnode, n)], or
    on its n-th question of one request, hooks[(devnode, request, n)] (to unplug it); `delay`: seconds
    before each answer."""

    def __init__(self, answering=None):
        super().__init__()
        self.lock = threading.Lock()
        self.nodes, self.errors = (answering.nodes, answering.errors) if answering is not None else ({}, [])
        self.asked, self.opened, self.hooks, self.delay = {}, {}, {}, 0.0
        self.requests = {}  # per node, {ioctl request: how many times asked}

    def reset(self):
        with self.lock:
            for table in (self.asked, self.opened, self.hooks, self.errors, self.requests):
                table.clear()
            self.delay = 0.0

    def do_handle_ioctl(self, client):
        try:
            devnode = client.get_devnode()
            request = client.get_request()
            with self.lock:
                asked = self.asked[devnode] = self.asked.get(devnode, 0) + 1
                kinds = self.requests.setdefault(devnode, {})
                kinds[request] = kinds.get(request, 0) + 1
                node = self.nodes.get(devnode)
                hook = self.hooks.get((devnode, asked), self.hooks.get((devnode, request, kinds[request])))
            if self.delay:
                time.sleep(self.delay)
            if hook is not None:
                hook()
                client.complete(-1, errno.ENODEV)
            elif node is None:
                client.complete(-1, errno.ENODEV)
            else:
                answering = self.ANSWERS.get(request) if request == VIDIOC_QUERYCAP or node.modes is not None else None
                if answering is None:
                    client.complete(-1, errno.ENOTTY)
                else:
                    size = request >> 16 & 0x3FFF
                    arg = client.get_arg().resolve(0, size)
                    answer = answering(node, bytes(arg.retrieve()))  # .data reads empty through GObject
                    if isinstance(answer, int):
                        client.complete(-1, answer)
                    else:
                        arg.update(0, list(answer))
                        client.complete(0, 0)
        except Exception as error:  # an exception must not leave the child's ioctl waiting
            self.errors.append(repr(error))
            client.complete(-1, errno.EIO)
        return True

    # Each answer: the bytes the driver writes back into the argument, or an errno. The structures'
    # layouts are the kernel's (linux/videodev2.h), little-endian.

    @staticmethod
    def _capability(node, _):
        return struct.pack(
            "16s32s32sIII12x",
            b"uvcvideo",
            node.name.encode(),
            b"usb-0000:00:14.0",
            0x060100,
            node.capabilities,
            node.device_caps,
        )

    @staticmethod
    def _format(node, arg):
        index, kind = struct.unpack_from("<II", arg)
        if kind != BUF_TYPE_VIDEO_CAPTURE:
            return errno.EINVAL
        found = _entry(node.modes, index, endless_format)
        if found is None:
            return errno.EINVAL
        return struct.pack(
            "<III32sII12x",
            index,
            kind,
            found.flags,
            found.description.encode()[:31],
            int.from_bytes(found.fourcc, "little"),
            0,
        )

    @staticmethod
    def _size(node, arg):
        index, fourcc = struct.unpack_from("<II", arg)
        found = _format_of(node, fourcc)
        entry = None if found is None else _entry(found.sizes, index, endless_size)
        if entry is None:
            return errno.EINVAL
        if isinstance(entry, Size):
            return struct.pack("<IIIII16x8x", index, fourcc, DISCRETE, entry.width, entry.height)
        return struct.pack(
            "<III6I8x",
            index,
            fourcc,
            entry.kind,
            entry.min_width,
            entry.max_width,
            entry.step_width,
            entry.min_height,
            entry.max_height,
            entry.step_height,
        )

    @staticmethod
    def _interval(node, arg):
        index, fourcc, width, height = struct.unpack_from("<IIII", arg)
        found = _format_of(node, fourcc)
        sizes = () if found is None else found.sizes
        if sizes == ENDLESS:
            sizes = (endless_size(k) for k in range(4096))
        size = next((entry for entry in sizes if entry.holds(width, height)), None)
        if size is None:
            return errno.EINVAL
        if isinstance(size.rates, Intervals):
            if index:
                return errno.EINVAL
            span = size.rates
            return struct.pack(
                "<IIIII6I8x", index, fourcc, width, height, span.kind, *span.shortest, *span.longest, *span.step
            )
        rate = _entry(size.rates, index, lambda k: (1, k + 1))
        if rate is None:
            return errno.EINVAL
        return struct.pack("<IIIIIII16x8x", index, fourcc, width, height, DISCRETE, *rate)

    @staticmethod
    def _input(node, _):
        return struct.pack("<i", 0) if node.modes else errno.ENOTTY

    @staticmethod
    def _inputs(node, arg):
        (index,) = struct.unpack_from("<I", arg)
        if not node.modes:
            return errno.ENOTTY
        if index:
            return errno.EINVAL
        return struct.pack("<I32sIIIQII12x4x", 0, b"Camera 1", INPUT_TYPE_CAMERA, 0, 0, 0, 0, 0)

    ANSWERS = {
        VIDIOC_QUERYCAP: _capability,
        VIDIOC_ENUM_FMT: _format,
        VIDIOC_ENUM_FRAMESIZES: _size,
        VIDIOC_ENUM_FRAMEINTERVALS: _interval,
        VIDIOC_G_INPUT: _input,
        VIDIOC_ENUMINPUT: _inputs,
    }


def _entry(entries, index, endless):
    """The entry at `index` of a mode table's level, None past its end."""
    if entries == ENDLESS:
        return endless(index)
    return entries[index] if index < len(entries) else None


def _format_of(node, fourcc):
    if node.modes == ENDLESS:
        index = int(fourcc.to_bytes(4, "little")[1:]) if fourcc.to_bytes(4, "little")[1:].isdigit() else -1
        return endless_format(index) if index >= 0 else None
    return next((found for found in node.modes if int.from_bytes(found.fourcc, "little") == fourcc), None)


class OpensCounted(QueryCap):
    """A QueryCap that counts each node's opens: umockdev connects the opener to the handler once per
    open of a device file."""

    def do_client_connected(self, client):
        with self.lock:
            devnode = client.get_devnode()
            self.opened[devnode] = self.opened.get(devnode, 0) + 1

    def take(self):
        """The opens and questions per node (in all, and per request) since the last take. A connection
        may reach the handler's thread a moment after the open returned: waits until the count has stood
        still for 0.2 s."""
        readings = []
        while len(readings) < 4 or len(set(readings[-4:])) > 1:
            with self.lock:
                readings.append(sum(self.opened.values()))
            time.sleep(0.05)
        with self.lock:
            taken = {"opened": dict(self.opened), "asked": dict(self.asked), "requests": dict(self.requests)}
            self.opened.clear()
            self.asked.clear()
            self.requests.clear()
        return taken


UDEV_DATA = "/run/udev/data"


def udev_entry(node, capabilities, versioned=True):
    """Writes udev's database entry of a node as udev does after v4l_id: `capabilities` as v4l_id
    writes them (":capture:"); `versioned`, with systemd 247 and later's version line."""
    lines = [
        "I:1000",
        "E:ID_V4L_VERSION=2",
        f"E:ID_V4L_PRODUCT={node.name}",
        f"E:ID_V4L_CAPABILITIES={capabilities}",
        "G:uaccess",
    ]
    if versioned:
        lines += ["Q:uaccess", "V:1"]
    os.makedirs(UDEV_DATA, exist_ok=True)
    with open(f"{UDEV_DATA}/c81:{node.number}", "w") as file:
        file.write("\n".join(lines) + "\n")


NETLINK_SOCK_DIAG = 4
SOCK_DIAG_BY_FAMILY = 20
UDIAG_SHOW_NAME = 0x01
UDIAG_SHOW_RQLEN = 0x10


def _unix_receive_queues():
    """{path: bytes queued} of every bound Unix socket on the machine, from the kernel's socket
    diagnostics; for a datagram socket the bytes are those of the datagram it would read next, so 0
    means it has read everything sent to it."""
    queues = {}
    with socket.socket(socket.AF_NETLINK, socket.SOCK_DGRAM, NETLINK_SOCK_DIAG) as diag:
        request = struct.pack("=BBHIII8x", socket.AF_UNIX, 0, 0, 0xFFFFFFFF, 0, UDIAG_SHOW_NAME | UDIAG_SHOW_RQLEN)
        diag.send(struct.pack("=IHHII", 16 + len(request), SOCK_DIAG_BY_FAMILY, 0x301, 1, 0) + request)
        while True:
            data, offset = diag.recv(1 << 16), 0
            while offset < len(data):
                length, kind = struct.unpack_from("=IH", data, offset)
                if kind == 3:  # NLMSG_DONE
                    return queues
                if kind == 2:  # NLMSG_ERROR
                    error = -struct.unpack_from("=i", data, offset + 16)[0]
                    raise OSError(error, f"unix socket diagnostics: {os.strerror(error)}")
                message, at, name, queued = data[offset + 16 : offset + length], 16, None, 0
                while at + 4 <= len(message):
                    size, attribute = struct.unpack_from("=HH", message, at)
                    if attribute == 0:  # UNIX_DIAG_NAME
                        name = message[at + 4 : at + size].split(b"\0")[0].decode(errors="replace")
                    elif attribute == 4:  # UNIX_DIAG_RQLEN: receive queue, send queue
                        queued = struct.unpack_from("=I", message, at + 4)[0]
                    at += (size + 3) & ~3
                if name:
                    queues[name] = queued
                offset += (length + 3) & ~3


def _testbed_outside_dev():
    """A testbed whose root is not beneath /dev, as with TMPDIR=/dev/shm (GLib makes it in $TMPDIR).
    umockdev's preload, in this process too, takes every path beginning with /dev/ for a device node:
    each file the testbed itself writes or reads is then connected to its ioctl handler, and each
    failed open (the testbed tries files a device does not have) keeps one of the preload's 50 places
    for open device files for good, until the 51st aborts the process ("libumockdev-preload
    fd_map_add(): overflow") in whichever add_from_string() or uevent() comes to it."""
    # Set for good, not patched and restored: the testbed's thread, running from new() on, reads the
    # environment, which must not change beneath it (see conftest.py).
    if tempfile.gettempdir().startswith("/dev/"):
        os.environ["TMPDIR"] = "/tmp"
    testbed = UMockdev.Testbed.new()
    root = testbed.get_root_dir()
    assert not root.startswith("/dev/"), f"umockdev's testbed is in {root}, beneath /dev"
    return testbed


class Bench:
    """The session's testbed and the devices plugged into it; `queries` (a QueryCap) answers the nodes."""

    def __init__(self, queries=None):
        self.testbed = _testbed_outside_dev()
        self.root = self.testbed.get_root_dir()
        self.queries = queries if queries is not None else QueryCap()
        self.plugged = []
        self.attached = set()

    def plug(self, device):
        """Adds the device, whose nodes answer from their "add" uevent on."""
        for node in device.nodes:
            if node.device_caps is not None:
                self.queries.nodes[node.devnode] = node
                if node.devnode not in self.attached:
                    assert self.testbed.attach_ioctl(node.devnode, self.queries)
                    self.attached.add(node.devnode)
        # One device at a time: each addition sends its "add" uevent.
        for block in device.description.split("\n\n"):
            self._wait_for_listeners()
            assert self.testbed.add_from_string(block.strip() + "\n")
        for node in device.nodes:
            if node.device_caps is None:
                # A socket where the device file should be: open() fails (ENXIO), even for root.
                with socket.socket(socket.AF_UNIX) as blocker:
                    blocker.bind(f"{self.root}/dev/video{node.number}")
        self.plugged.append(device)
        return device

    def vanish(self, device):
        """Takes the device out of sysfs only, as a walk sees a camera pulled out under it; safe from
        the ioctl handler. unplug() finishes the job."""
        if not device.gone:
            for syspath in device.syspaths:
                self._wait_for_listeners()
                self.testbed.uevent(syspath, "remove")
                self.testbed.remove_device(syspath)
            device.gone = True

    def _wait_for_listeners(self, patience=20.0):
        """Waits until every process listening for the testbed's uevents has read those sent so far.
        umockdev sends each uevent to each listener's socket without waiting, and aborts this
        process ("uevent_sender sendmsg_one: sendmsg failed: Resource temporarily unavailable") when
        a socket's queue is full: ten datagrams (net.unix.max_dgram_qlen), fewer than a hub of cameras
        sends while a loaded machine keeps a watching child from reading."""
        deadline = time.monotonic() + patience
        while True:
            try:
                queues = _unix_receive_queues()
            except OSError:  # a kernel without Unix socket diagnostics (unix_diag): send unpaced
                return
            behind = [name for name, queued in queues.items() if queued and name.startswith(f"{self.root}/event")]
            if not behind:
                return
            assert time.monotonic() < deadline, f"no uevent read for {patience} s from {behind}"
            time.sleep(0.005)

    def unplug(self, device, udev_catches_up=True):
        """Takes the device out, and its nodes' udev entries unless udev has not caught up yet."""
        # The handler stays attached: a watcher may be asking a node as it goes (an unplugged node
        # answers ENODEV), and umockdev would cut off a process whose question was under way.
        self.plugged.remove(device)
        for node in device.nodes:
            self.queries.nodes.pop(node.devnode, None)
            if udev_catches_up:
                with contextlib.suppress(FileNotFoundError, NotADirectoryError):
                    os.unlink(f"{UDEV_DATA}/c81:{node.number}")
        self.vanish(device)
        # umockdev leaves the device files behind.
        for node in device.nodes:
            with contextlib.suppress(FileNotFoundError):
                os.unlink(f"{self.root}/dev/video{node.number}")

    def unplug_all(self):
        while self.plugged:
            self.unplug(self.plugged[-1])
