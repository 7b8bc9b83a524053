"""The shipped module over this machine's real sysfs."""

import subprocess
import sys
from pathlib import Path

import pytest


def test_without_video_devices_the_shipped_module_finds_none():
    if any(Path("/sys/class/video4linux").glob("video*")):
        pytest.skip("this machine has video devices")
    code = "import sys, Zorvek; sys.stderr.write(repr(Zorvek.getDeviceCount(0)))"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert (out.stdout, out.stderr) == ("initialize is statredNotInitialized ErrorDevice is not connected", "False")
