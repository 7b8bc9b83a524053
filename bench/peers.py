"""One way of listing the machine's cameras from Python, timed: the PyPI packages a Python user would
pick instead of this module, and this module's own count.

    python bench/peers.py TOOL --out result.json [--module Zorvek...so] [--seconds 1] [--repeats 3]

TOOL is one of: cv2-enumerate-cameras (its Linux listing, with the USB IDs), linuxpy (the V4L2 video
capture devices), pyudev (the video4linux devices, with the IDs of their USB device), zorvek (this
module's getDeviceCount, one scan). The result holds what the tool listed, as (device node, vendor
ID, product ID) with None where the tool gives no ID, and the seconds per listing of each repeat.
"""
import argparse
import importlib.util
import json
import os
import statistics
import sys
import time

# OpenCV's identifier of its V4L2 back end, which cv2-enumerate-cameras takes without OpenCV.
CAP_V4L2 = 200


def cv2_enumerate_cameras():
    from cv2_enumerate_cameras import enumerate_cameras

    def listing():
        return [(camera.path, _hex(camera.vid), _hex(camera.pid)) for camera in enumerate_cameras(CAP_V4L2)]
    return listing


def linuxpy():
    from linuxpy.video.device import iter_video_capture_devices

    def listing():
        return [(str(device.filename), None, None) for device in iter_video_capture_devices()]
    return listing


def pyudev():
    import pyudev as udev
    context = udev.Context()

    def listing():
        found = []
        for device in context.list_devices(subsystem="video4linux"):
            usb = device.find_parent("usb", "usb_device")
            ids = (usb.attributes.asstring("idVendor"), usb.attributes.asstring("idProduct")) if usb else (None, None)
            found.append((device.device_node, *ids))
        return found
    return listing


def zorvek(module_path):
    found = importlib.util.spec_from_file_location("Zorvek", module_path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    # The scan writes its trace to standard output: to /dev/null, as in the native benchmarks.
    sys.stdout.flush()
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, 1)
    os.close(devnull)

    def listing():
        # A count tells whether any target camera is attached; the devices themselves are not
        # named, so the listing is empty.
        module.getDeviceCount(0)
        return []
    return listing


def _hex(value):
    return None if value is None else f"{value:04x}"


def timed(listing, seconds, repeats):
    """Seconds per listing: each repeat runs the listing for about `seconds` and averages."""
    runs = []
    for _ in range(repeats):
        count = 0
        start = time.perf_counter()
        while True:
            listing()
            count += 1
            elapsed = time.perf_counter() - start
            if elapsed >= seconds and count >= 3:
                break
        runs.append(elapsed / count)
    return runs


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("tool", choices=["cv2-enumerate-cameras", "linuxpy", "pyudev", "zorvek"])
    parser.add_argument("--out", required=True)
    parser.add_argument("--module", help="the module file, for the tool zorvek")
    parser.add_argument("--seconds", type=float, default=1.0)
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--list-only", action="store_true", help="list once, time nothing")
    args = parser.parse_args()

    if args.tool == "zorvek":
        if not args.module:
            parser.error("the tool zorvek needs --module")
        listing = zorvek(args.module)
    else:
        listing = {"cv2-enumerate-cameras": cv2_enumerate_cameras, "linuxpy": linuxpy, "pyudev": pyudev}[args.tool]()

    listed = listing()
    runs = [] if args.list_only else timed(listing, args.seconds, args.repeats)
    with open(args.out, "w") as out:
        json.dump({"tool": args.tool, "listed": sorted(listed, key=lambda entry: str(entry[0])),
                   "seconds": statistics.median(runs) if runs else None, "runs": runs}, out, indent=1)


if __name__ == "__main__":
    main()
