"""Fake cameras of the model in a umockdev testbed, listed by zorvekcam, then one plugged in and
unplugged under `zorvekcam --watch`.

Run it through examples/fake_cameras.sh, which installs what it needs; by hand:

    umockdev-wrapper /usr/bin/python3 examples/fake_cameras.py .venv/bin/python

The argument is a Python that has zorvekcam installed. This script runs in Debian's own Python,
which has umockdev's bindings (python3-gi, gir1.2-umockdev-1.0). umockdev-wrapper preloads umockdev
into this process and its children: they see the testbed's /sys and /dev instead of the machine's.
A camera is a USB device with one interface and two V4L2 nodes under it, a capture node and a
metadata node, as the uvcvideo driver makes them; each node answers VIDIOC_QUERYCAP, the one
question zorvekcam asks a node. The answers come from a handler on a thread of this process, so
zorvekcam runs in child processes.
"""

import errno
import os
import selectors
import shlex
import signal
import struct
import subprocess
import sys
import tempfile
import threading

import gi

gi.require_version("UMockdev", "1.0")
from gi.repository import UMockdev  # noqa: E402

VIDIOC_QUERYCAP = 0x80685600  # _IOR('V', 0, struct v4l2_capability): 104 bytes
CAPTURE, META_CAPTURE, STREAMING, DEVICE_CAPS = 0x1, 0x800000, 0x4000000, 0x80000000
USB_ROOT = "/devices/pci0000:00/0000:00:14.0"


class Camera:
    """A camera of the model at USB `port` ("1-2": bus 1, port 2), nodes /dev/video`first` (capture)
    and the one after it (metadata)."""

    def __init__(self, port, first, serial, product="Zorvek Cam", vendor="2560", product_id="c0d6"):
        bus, _, hops = port.partition("-")
        self.port, self.serial = port, serial
        self.device = f"{USB_ROOT}/usb{bus}/{port}"
        self.interface = f"{self.device}/{port}:1.0"
        # Each node's own capabilities: one captures video, the other carries metadata only.
        self.nodes = {
            f"/dev/video{first}": (0, CAPTURE | STREAMING),
            f"/dev/video{first + 1}": (1, META_CAPTURE | STREAMING),
        }
        self.blocks = [  # parents first, as the kernel adds them
            "\n".join(
                [
                    f"P: {self.device}",
                    "E: SUBSYSTEM=usb",
                    "E: DEVTYPE=usb_device",
                    f"A: busnum={bus}",
                    f"A: devnum={first + 2}",
                    f"A: idVendor={vendor}",
                    f"A: idProduct={product_id}",
                    f"H: product={product.encode().hex().upper()}",
                    f"H: serial={serial.encode().hex().upper()}",
                ]
            ),
            "\n".join(
                [f"P: {self.interface}", "E: SUBSYSTEM=usb", "E: DEVTYPE=usb_interface", "A: bInterfaceNumber=00"]
            ),
        ]
        for devnode, (index, _) in self.nodes.items():
            name = devnode.rpartition("/")[2]
            number = name.removeprefix("video")
            self.blocks.append(
                "\n".join(
                    [
                        f"P: {self.interface}/video4linux/{name}",
                        f"N: {name}=00",
                        "E: SUBSYSTEM=video4linux",
                        f"E: DEVNAME={devnode}",
                        f"A: name={product}",
                        f"A: index={index}",
                        f"A: dev=81:{number}",
                        f"L: device=../../../{port}:1.0",
                    ]
                )
            )


class Nodes(UMockdev.IoctlBase):
    """Answers VIDIOC_QUERYCAP for the nodes of the cameras plugged in, as uvcvideo would."""

    def __init__(self):
        super().__init__()
        self.lock = threading.Lock()
        self.caps = {}

    def do_handle_ioctl(self, client):
        with self.lock:
            caps = self.caps.get(client.get_devnode())
        if caps is None:
            client.complete(-1, errno.ENODEV)
        elif client.get_request() != VIDIOC_QUERYCAP:
            client.complete(-1, errno.ENOTTY)
        else:
            answer = struct.pack(
                "16s32s32sIII12x",
                b"uvcvideo",
                b"Zorvek Cam",
                b"usb-0000:00:14.0",
                0x060100,
                CAPTURE | META_CAPTURE | STREAMING | DEVICE_CAPS,
                caps,
            )
            client.get_arg().resolve(0, len(answer)).update(0, list(answer))
            client.complete(0, 0)
        return True


class Testbed:
    def __init__(self):
        # umockdev's preload takes every path under /dev/ for a device: the testbed's own files
        # must lie elsewhere (GLib makes it in $TMPDIR).
        if tempfile.gettempdir().startswith("/dev/"):
            os.environ["TMPDIR"] = "/tmp"
        self.testbed = UMockdev.Testbed.new()
        self.nodes = Nodes()
        self.attached = set()

    def plug(self, camera):
        for devnode, (_, caps) in camera.nodes.items():
            with self.nodes.lock:
                self.nodes.caps[devnode] = caps
            if devnode not in self.attached:
                self.testbed.attach_ioctl(devnode, self.nodes)
                self.attached.add(devnode)
        for block in camera.blocks:  # one at a time: each sends its "add" uevent
            self.testbed.add_from_string(block + "\n")

    def unplug(self, camera):
        with self.nodes.lock:
            for devnode in camera.nodes:
                self.nodes.caps.pop(devnode, None)
        syspaths = [f"/sys{camera.interface}/video4linux/{devnode.rpartition('/')[2]}" for devnode in camera.nodes]
        for syspath in syspaths + [f"/sys{camera.interface}", f"/sys{camera.device}"]:  # deepest first
            self.testbed.uevent(syspath, "remove")
            self.testbed.remove_device(syspath)
        for devnode in camera.nodes:
            try:
                os.unlink(self.testbed.get_root_dir() + devnode)
            except FileNotFoundError:
                pass


def step(text):
    print(f"\n== {text}", flush=True)


def run(command):
    print("$", shlex.join(command), flush=True)
    # The handler answers on this process's thread: run the child without blocking it.
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, check=False)
    print(done.stdout, end="", flush=True)
    return done.returncode


class Lines:
    """The lines a child writes, read with a time limit, so that a watch that stays silent fails the
    example instead of hanging it."""

    def __init__(self, child):
        self.child, self.buffer = child, b""
        self.selector = selectors.DefaultSelector()
        self.selector.register(child.stdout, selectors.EVENT_READ)

    def next(self, patience=30.0):
        while b"\n" not in self.buffer:
            if not self.selector.select(patience):
                raise SystemExit(f"fake_cameras: no line from the watch within {patience:.0f} s")
            chunk = os.read(self.child.stdout.fileno(), 4096)
            if not chunk:
                raise SystemExit("fake_cameras: the watch ended early")
            self.buffer += chunk
        line, _, self.buffer = self.buffer.partition(b"\n")
        text = line.decode(errors="replace")
        print(text, flush=True)
        return text


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: umockdev-wrapper /usr/bin/python3 examples/fake_cameras.py PYTHON_WITH_ZORVEKCAM")
    python = sys.argv[1]
    # The console script beside the interpreter, as a user runs it; else the same program through -m.
    script = os.path.join(os.path.dirname(python), "zorvekcam")
    command = [script] if os.access(script, os.X_OK) else [python, "-m", "zorvekcam"]
    bed = Testbed()
    first, second, third = Camera("1-2", 0, "SN0001"), Camera("1-3", 2, "SN0002"), Camera("1-4", 4, "SN0003")

    step("two fake cameras of the model plugged in: /dev/video0 and /dev/video2 (each with a metadata node)")
    bed.plug(first)
    bed.plug(second)

    step("the package: zorvekcam.list_devices()")
    run(
        [
            python,
            "-c",
            "import zorvekcam\n"
            "for camera in zorvekcam.list_devices():\n"
            "    print(camera.name, camera.serial, camera.port, camera.node, camera.index)",
        ]
    )
    step("the command: zorvekcam, then zorvekcam --json")
    listed = run(command)
    run(command + ["--json"])

    step("zorvekcam --watch, while a third camera is plugged in and unplugged")
    # Only the kernel's device events reach the testbed (udev does not run in it).
    print("$", shlex.join(command + ["--watch"]), flush=True)
    watch = subprocess.Popen(command + ["--watch"], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        lines = Lines(watch)
        for _ in range(2):  # the cameras there at the start
            lines.next()
        bed.plug(third)
        lines.next()
        bed.unplug(third)
        lines.next()
    finally:
        watch.send_signal(signal.SIGTERM)
        _, said = watch.communicate(timeout=30)
        # What the watch said on standard error (that it is watching), after its events.
        print(said.decode(errors="replace"), end="", flush=True)
    step(f"done: the watch was stopped with SIGTERM (exit status {watch.returncode})")
    return 0 if listed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
