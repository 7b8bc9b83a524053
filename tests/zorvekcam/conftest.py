"""The package over scripted devices: the test build's folder (the module tests' scripted.py)
holds the package, its Python files linked from the source tree beside its core built over the
scriptable device source, and Zorvek over the same devices."""
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path[:0] = [str(ROOT / "tests" / "module")]

from scripted import SCRIPTED_DIR, child_env, scripted_devices  # noqa: E402,F401  (a fixture, found by name)

sys.path.insert(0, str(SCRIPTED_DIR))  # zorvekcam, Zorvek and zorvek_records of the test build


def linux_path(vid_pid: str, node: str) -> str:
    """A device path as the Linux source makes it, ending in the node's name."""
    return rf"\\?\usb#{vid_pid}&mi_00#1-2:1.0#{{65e8773d-8f56-11d0-a3b9-00a0c9223196}}\{node}"


TARGET_A = linux_path("vid_2560&pid_c0d6", "video0")
TARGET_B = linux_path("VID_2560&PID_C0D6", "video2")
OTHER = linux_path("vid_046d&pid_0825", "video4")
