"""The scan over the Linux video4linux devices, beside the bare reader of the same files (the floor)
and beside the Python packages a user would pick instead, all over the same fake devices.

    umockdev-wrapper /usr/bin/python3 bench/sysfs_compare.py --bench-sysfs build/bench/bench/bench_sysfs \
        --python .venv/bin/python --module build/bench/module/Zorvek...so --out sysfs.json

Runs under umockdev (Debian's python3 with its gi bindings): a testbed of --nodes video4linux nodes,
two per USB camera as a UVC camera has them (video capture, then metadata), every other camera of the
target model. Its VIDIOC_QUERYCAP answers come from a handler in this process, on a thread that needs
the interpreter's lock, so everything measured runs in child processes while this one waits. The
children inherit the testbed through the environment (LD_PRELOAD and UMOCKDEV_DIR).

The native benchmark and each peer run --rounds times, one after another in every round, and the
results keep each round's numbers, so that ratios can be taken within a round.
"""
import argparse
import json
import os
import struct
import subprocess
import sys
import tempfile
import threading

import gi

gi.require_version("UMockdev", "1.0")
from gi.repository import UMockdev  # noqa: E402

VIDIOC_QUERYCAP = 0x80685600
ENOTTY = 25
V4L2_CAP_VIDEO_CAPTURE = 0x00000001
V4L2_CAP_META_CAPTURE = 0x00800000
V4L2_CAP_STREAMING = 0x04000000
V4L2_CAP_EXT_PIX_FORMAT = 0x00200000
V4L2_CAP_DEVICE_CAPS = 0x80000000
CAPTURE_CAPS = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_EXT_PIX_FORMAT
METADATA_CAPS = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_EXT_PIX_FORMAT
TARGET = ("2560", "c0d6")
OTHER = ("046d", "0825")
PEERS = ["cv2-enumerate-cameras", "linuxpy", "pyudev"]


def cameras(nodes):
    """(camera number, vendor, product) for nodes // 2 cameras: even ones the target model."""
    return [(k, *(TARGET if k % 2 == 0 else OTHER)) for k in range(nodes // 2)]


def describe(nodes):
    """The testbed in umockdev's text format, and the device caps of each /dev node."""
    blocks, caps = [], {}
    for k, vendor, product in cameras(nodes):
        usb = f"/devices/pci0000:00/0000:00:14.0/usb1/1-{k + 1}"
        interface = f"{usb}/1-{k + 1}:1.0"
        name = "Target Camera" if (vendor, product) == TARGET else "Other Camera"
        blocks.append(f"P: {usb}\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: idVendor={vendor}\n"
                      f"A: idProduct={product}\nA: product={name}\nA: manufacturer=Maker\n")
        blocks.append(f"P: {interface}\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nA: bInterfaceClass=0e\n")
        for index, node_caps in enumerate((CAPTURE_CAPS, METADATA_CAPS)):
            minor = 2 * k + index
            blocks.append(f"P: {interface}/video4linux/video{minor}\nN: video{minor}\nE: SUBSYSTEM=video4linux\n"
                          f"E: DEVNAME=/dev/video{minor}\nE: MAJOR=81\nE: MINOR={minor}\nA: name={name}: {name}\n"
                          f"A: index={index}\nA: dev=81:{minor}\n")
            caps[f"/dev/video{minor}"] = (node_caps, name, f"usb-0000:00:14.0-{k + 1}")
    return "\n".join(blocks), caps


class QueryCap(UMockdev.IoctlBase):
    """Answers VIDIOC_QUERYCAP as the UVC driver does, and counts what it is asked."""

    def __init__(self, caps):
        super().__init__()
        self.caps = caps
        self.lock = threading.Lock()
        self.queries = 0

    def do_handle_ioctl(self, client):
        node = client.get_devnode()
        if client.get_request() != VIDIOC_QUERYCAP or node not in self.caps:
            client.complete(-1, ENOTTY)
            return True
        device_caps, card, bus = self.caps[node]
        answer = struct.pack("16s32s32sIII12x", b"uvcvideo", card.encode(), bus.encode(), 0x00060000,
                             device_caps | CAPTURE_CAPS | METADATA_CAPS | V4L2_CAP_DEVICE_CAPS, device_caps)
        client.get_arg().resolve(0, len(answer)).update(0, answer)
        client.complete(0, 0)
        with self.lock:
            self.queries += 1
        return True

    def take(self):
        with self.lock:
            count, self.queries = self.queries, 0
        return count


def testbed(nodes):
    bed = UMockdev.Testbed.new()
    text, caps = describe(nodes)
    bed.add_from_string(text)
    # umockdev's text format has no "device" link; the kernel gives every node one to its parent.
    for k, _, _ in cameras(nodes):
        for index in (0, 1):
            path = f"/sys/devices/pci0000:00/0000:00:14.0/usb1/1-{k + 1}/1-{k + 1}:1.0/video4linux/video{2 * k + index}"
            bed.set_attribute_link(path, "device", "../..")
    handler = QueryCap(caps)
    for node in caps:
        bed.attach_ioctl(node, handler)
    return bed, handler, caps


def run(command):
    done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if done.returncode != 0:
        raise SystemExit(f"sysfs_compare: {' '.join(command)} failed:\n{done.stderr}")


def read(path):
    with open(path) as file:
        return json.load(file)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bench-sysfs", required=True, help="the native benchmark program")
    parser.add_argument("--python", required=True, help="the interpreter that has the peers installed")
    parser.add_argument("--module", required=True, help="the module file over the platform's devices")
    parser.add_argument("--out", required=True)
    parser.add_argument("--nodes", type=int, default=64)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--seconds", type=float, default=1.0, help="time per peer repeat")
    args = parser.parse_args()
    if "umockdev" not in os.environ.get("LD_PRELOAD", ""):
        raise SystemExit("sysfs_compare: run me under umockdev-wrapper")

    bed, handler, caps = testbed(args.nodes)
    peers = os.path.join(os.path.dirname(os.path.abspath(__file__)), "peers.py")
    result = {"nodes": args.nodes, "cameras": len(cameras(args.nodes)),
              "capture_nodes": sorted(node for node, (c, _, _) in caps.items() if c & V4L2_CAP_VIDEO_CAPTURE),
              "target_cameras": sum(1 for _, v, p in cameras(args.nodes) if (v, p) == TARGET),
              "listed": {}, "queries_per_listing": {}, "rounds": []}

    with tempfile.TemporaryDirectory() as work:
        out = os.path.join(work, "out.json")
        tools = PEERS + ["zorvek"]

        def peer(tool, *extra):
            command = [args.python, peers, tool, "--out", out, "--module", args.module, *extra]
            run(command)
            return read(out)

        # What each tool lists, and how many VIDIOC_QUERYCAP one listing makes.
        for tool in tools:
            handler.take()
            listed = peer(tool, "--list-only")["listed"]
            result["listed"][tool] = listed
            result["queries_per_listing"][tool] = handler.take()

        for _ in range(args.rounds):
            round_ = {}
            run([args.bench_sysfs, f"--benchmark_out={out}", "--benchmark_out_format=json",
                 "--benchmark_repetitions=3", "--benchmark_enable_random_interleaving=true"])
            round_["native"] = read(out)
            for tool in tools:
                round_[tool] = peer(tool, "--seconds", str(args.seconds))["seconds"]
            result["rounds"].append(round_)
            print(f"sysfs_compare: round {len(result['rounds'])} of {args.rounds} done", file=sys.stderr)

    with open(args.out, "w") as file:
        json.dump(result, file, indent=1)
    del bed


if __name__ == "__main__":
    main()
