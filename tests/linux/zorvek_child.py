"""Calls the shipped module and package for the umockdev tests: a Python expression a line on stdin,
for each a JSON line on stdout, [its value, what it wrote on standard output].
Beside Zorvek: info(index), getDeviceInfo's result and the record's four fields in hex; listed(),
the [node, path] of every camera zorvekcam.list_devices() lists; listed_at_once(T, K), the distinct
answers of T threads that list K times each, all at once; modes(node), the listed camera's modes
(as_dict()), or its CameraError's fields; inputs(node), its ffmpeg_input and gstreamer_source;
linuxpy_modes(node), what linuxpy reads of the node's modes.
Arguments: folders to put first on sys.path (where the modules are, for another interpreter than the
one they were installed into). The environment is inherited untouched: the testbed lives in it.
"""

import concurrent.futures
import json
import locale
import os
import sys
import threading
from pathlib import Path

sys.path[:0] = [*sys.argv[1:], str(Path(__file__).resolve().parents[1] / "support")]
locale.setlocale(locale.LC_ALL, "C.UTF-8")

import zorvek_records  # noqa: E402  (registers DeviceInfo before the module is called)
import Zorvek  # noqa: E402
from capture import stdout_captured  # noqa: E402

# The answers go to a copy of standard output, which the calls' captures leave alone.
answers = os.fdopen(os.dup(1), "w")


def info(index):
    record = zorvek_records.DeviceInfo()
    found = Zorvek.getDeviceInfo(index, record)
    raw = record[0].raw
    return found, [raw[start:end].hex() for start, end in ((0, 50), (50, 55), (55, 60), (60, 610))]


def listed():
    import zorvekcam  # only where the listing is tested: Zorvek's calls are tested without it

    return [[camera.node, camera.path] for camera in zorvekcam.list_devices()]


def listed_at_once(threads, times):
    start = threading.Barrier(threads)

    def lister(_):
        start.wait()
        return [json.dumps(listed()) for _ in range(times)]

    with concurrent.futures.ThreadPoolExecutor(threads) as pool:
        listings = {listing for answers in pool.map(lister, range(threads)) for listing in answers}
    return [json.loads(listing) for listing in sorted(listings)]


def camera_at(node):
    import zorvekcam

    return next(camera for camera in zorvekcam.list_devices() if camera.node == node)


def modes(node):
    import zorvekcam

    camera = camera_at(node)
    try:
        return [mode.as_dict() for mode in camera.modes()]
    except zorvekcam.CameraError as error:
        return {
            "error": type(error).__name__,
            "oserror": isinstance(error, OSError),
            "errno": error.errno,
            "strerror": error.strerror,
            "step": error.step,
            "text": str(error),
        }


def inputs(node):
    camera = camera_at(node)
    return [camera.ffmpeg_input, camera.gstreamer_source]


def linuxpy_modes(node):
    """linuxpy's formats (FourCCs, in its order), its discrete sizes' rates and its ranges of sizes,
    its fractions as text."""
    from linuxpy.video.device import Device, FrameSizeType

    def fourcc(pixel_format):
        return pixel_format.to_bytes(4, "little").decode("latin-1")

    with Device(node, read_write=False) as device:
        formats = [image.pixel_format for image in device.info.formats]
        ranges = [
            [
                fourcc(size.pixel_format),
                size.type.name.lower(),
                size.info.min_width,
                size.info.min_height,
                size.info.max_width,
                size.info.max_height,
                size.info.step_width,
                size.info.step_height,
            ]
            for pixel_format in formats
            for size in device.info.format_frame_sizes(pixel_format)
            if size.type != FrameSizeType.DISCRETE
        ]
        rates = [
            [
                fourcc(kind.pixel_format),
                kind.width,
                kind.height,
                kind.type.name.lower(),
                str(kind.min_fps),
                str(kind.max_fps),
                str(kind.step_fps),
            ]
            for kind in device.info.frame_types
        ]
    return {"formats": [fourcc(pixel_format) for pixel_format in formats], "ranges": ranges, "rates": rates}


for line in sys.stdin:
    with stdout_captured() as out:
        result = eval(line)
    answers.write(json.dumps([result, out.text]) + "\n")
    answers.flush()
