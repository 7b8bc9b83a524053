"""The cameras the benchmarks plug into a umockdev testbed, made with the Linux source tests' fake
devices (the same sysfs layout and VIDIOC_QUERYCAP answers): USB cameras of the target model and of
another, each with two nodes as a UVC camera has them, video capture, then metadata."""

import json
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "linux"))
# Re-exported to the benchmarks; the suppression sits on the statement's first line, where it stays
# whatever layout the formatter gives the names.
from fake_v4l2 import (  # noqa: E402,F401
    Bench,
    OpensCounted,
    QueryCap,
    capture_node,
    metadata_node,
    udev_entry,
    usb_camera,
)

TARGET = ("2560", "c0d6")
OTHER = ("046d", "0825")


def models(cameras, mix):
    """The models of cameras 0 to `cameras` - 1: "target", all the target's; "half", every other one
    (the first included)."""
    return [TARGET if mix == "target" or k % 2 == 0 else OTHER for k in range(cameras)]


def plug(bench, first, kinds):
    """Cameras numbered from `first`, one of each model in `kinds`; camera k has the nodes video2k and
    video2k+1, and a serial number."""
    for k, (vendor, product) in enumerate(kinds, start=first):
        name = "Target Camera" if (vendor, product) == TARGET else "Other Camera"
        bench.plug(
            usb_camera(
                f"1-{k + 1}",
                [capture_node(2 * k, name), metadata_node(2 * k + 1, name)],
                vendor=vendor,
                product_id=product,
                product=name.encode(),
                serial=f"SN{k:04}".encode(),
            )
        )


def nodes_of(cameras):
    """The device files of these cameras' nodes."""
    return [f"/dev/video{2 * k + index}" for k in cameras for index in (0, 1)]


def testbed(program):
    """The session's testbed; `program` must run under umockdev-wrapper, which preloads umockdev."""
    if "umockdev" not in os.environ.get("LD_PRELOAD", ""):
        raise SystemExit(f"{program}: run me under umockdev-wrapper")
    return Bench()


def write_result(bench, program, result, path):
    """Writes the result as JSON, unless the fake devices failed to answer some question meanwhile."""
    if bench.queries.errors:
        raise SystemExit(f"{program}: the fake devices failed: {bench.queries.errors}")
    with open(path, "w") as file:
        json.dump(result, file, indent=1)
