"""The attached target cameras as plain Python values."""

from __future__ import annotations

import itertools
import re
import sys
from dataclasses import dataclass

import Zorvek
import zorvek_records

from ._capture import call

# The scan writes this after each matching device, with the device mask as it then stands (a signed
# 32-bit number). Zorvek's own count goes to a temporary that Python never sees, so the last mask
# in the trace is where the number of devices comes from.
_MASK_LINE = re.compile(r"Before index list is : (-?\d+)\n")

# A Linux device path ends in the name of the node to open, as the record holds it: upper-cased.
_LINUX_NODE = re.compile(r"\\(VIDEO\d+)\Z", re.IGNORECASE)


@dataclass(frozen=True, slots=True)
class Camera:
    """One attached camera of the target model."""

    name: str
    """Its "FriendlyName"; empty when the device has no readable name."""
    vid: str
    """The USB vendor ID from its path, "2560"."""
    pid: str
    """The USB product ID from its path, "C0D6"."""
    path: str
    """Its device path, upper-cased as the record holds it."""
    node: str | None
    """The device node to open it by (/dev/videoN on Linux); None where the platform has none."""


def _node(path: str) -> str | None:
    if not sys.platform.startswith("linux"):
        return None
    found = _LINUX_NODE.search(path)
    return "/dev/" + found.group(1).lower() if found else None


def _camera(record: zorvek_records.Record) -> Camera:
    path = record.devicePath
    return Camera(name=record.friendlyName, vid=record.vid, pid=record.pid, path=path, node=_node(path))


def count() -> int:
    """The number of target cameras attached right now (at most 32 are told apart)."""
    attached, text = call(Zorvek.getDeviceCount, 0)
    if not attached:
        return 0
    masks = _MASK_LINE.findall(text)
    if not masks:
        raise RuntimeError(f"Zorvek found devices but did not trace its device mask: {text!r}")
    return bin(int(masks[-1]) & 0xFFFFFFFF).count("1")


def list_devices() -> list[Camera]:
    """The target cameras attached right now, in enumeration order.

    Empty when none is attached, and also when the machine's enumerator failed: Zorvek's trace does
    not tell the two apart ("NotInitialized Error" either way). Read the trace, with `trace()`, to
    see what happened.
    """
    filled: list[Camera] = []
    # A camera unplugged between the count and the record walk fails the walk; one more try sees
    # the devices as they have settled.
    for _attempt in range(2):
        wanted = count()
        if wanted == 0:
            return []
        records = zorvek_records.DeviceInfo(wanted)
        complete, _ = call(Zorvek.getDeviceListInfo, wanted, records)
        # Records are written in order up to the first that fails; a written record always holds
        # the vendor ID, an unwritten one stays zeroed.
        cameras = (_camera(records[index]) for index in range(len(records)))
        filled = list(itertools.takewhile(lambda camera: camera.vid != "", cameras))
        if complete:
            return filled
    return filled
