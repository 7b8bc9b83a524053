"""Scripted devices for the package's tests, through the test build of Zorvek: its device source is
set with the C functions that the module file exports. Used in the test process and, for the
command line, in child processes (cam_child.py)."""
from __future__ import annotations

import ctypes
import os
from dataclasses import asdict, dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
# The test build of Zorvek, with the records companion beside it.
SCRIPTED_DIR = Path(os.environ.get("ZORVEK_SCRIPTED_DIR", ROOT / "build" / "tests" / "scripted"))
PACKAGE_DIR = ROOT / "python"
HERE = Path(__file__).resolve().parent

INT_MAX = 2**31 - 1
E_FAIL = -2147467259  # 0x80004005 as the C int it is


def linux_path(vid_pid: str, node: str) -> str:
    """A device path as the Linux source makes it: the node's name last."""
    return rf"\\?\usb#{vid_pid}&mi_00#1-2:1.0#{{65e8773d-8f56-11d0-a3b9-00a0c9223196}}\{node}"


TARGET_A = linux_path("vid_2560&pid_c0d6", "video0")
TARGET_B = linux_path("VID_2560&PID_C0D6", "video2")
OTHER = linux_path("vid_046d&pid_0825", "video4")
WINDOWS_TARGET = r"\\?\usb#vid_2560&pid_c0d6&mi_00#6&1a2b3c4d&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\global"


@dataclass(frozen=True)
class Device:
    path: str | None
    name: str | None
    first_walk: int = 0  # walks are counted from the script's start; see script()
    last_walk: int = INT_MAX


def script(devices: list[Device], create_result: int = 0) -> None:
    """Replaces the scripted devices of the Zorvek loaded in this process and restarts the walk
    count: a device count is one walk, each record two."""
    import Zorvek

    assert Path(Zorvek.__file__).parent == SCRIPTED_DIR, f"not the test build: {Zorvek.__file__}"
    library = ctypes.CDLL(Zorvek.__file__)
    library.standin_script_reset(create_result, 0, 0)
    for device in devices:
        library.standin_script_add_device(
            None if device.path is None else device.path.encode(),
            None if device.name is None else device.name.encode(),
            0, 0, device.first_walk, device.last_walk)


def child_environment() -> dict[str, str]:
    """The environment of a child process that imports the package from the source tree and
    Zorvek from the test build."""
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join([str(HERE), str(PACKAGE_DIR), str(SCRIPTED_DIR)])
    return env


def as_json(devices: list[Device]) -> str:
    import json

    return json.dumps([asdict(device) for device in devices])
