"""Which OpenCV backend's index a listing gives, over scripted devices on Linux: the platform's own
(CAP_V4L2) or none given is today's listing; Media Foundation's and DirectShow's are Windows's, refused
here before any walk."""

import asyncio
import subprocess

import pytest

from conftest import OTHER, TARGET_A, TARGET_B, child_env
from scripted import Device, child_command

import zorvekcam
from zorvekcam import CAP_DSHOW, CAP_MSMF, CAP_V4L2, _core

DEVICES = (Device(OTHER, "Other"), Device(TARGET_A, "Cam A"), Device(TARGET_B, "Cam B"))


def test_the_constants_are_opencvs():
    assert (CAP_V4L2, CAP_DSHOW, CAP_MSMF) == (200, 700, 1400)
    assert "CAP_MSMF" in zorvekcam.__all__


@pytest.mark.parametrize("backend", [None, CAP_V4L2])
def test_the_platforms_own_backend_is_todays_listing(scripted_devices, backend):
    scripted_devices.attach(*DEVICES)
    plain = zorvekcam.list_devices()
    chosen = zorvekcam.list_devices(backend=backend)
    assert chosen == plain
    assert [(c.name, c.index, c.backend) for c in chosen] == [("Cam A", 1, CAP_V4L2), ("Cam B", 2, CAP_V4L2)]
    assert asyncio.run(zorvekcam.alist_devices(backend)) == plain
    assert scripted_devices.walks() == 3


@pytest.mark.parametrize(
    "backend, error",
    [
        (CAP_MSMF, ValueError),
        (CAP_DSHOW, ValueError),
        (0, ValueError),  # the core's own word for the platform's numbering is no OpenCV backend
        (1234, ValueError),
        (-1, ValueError),
        (True, TypeError),  # an int to Python, and 1 is no backend either
        ("msmf", TypeError),
        (200.0, TypeError),
    ],
)
def test_a_backend_this_platform_lacks_is_refused_before_any_walk(scripted_devices, backend, error):
    scripted_devices.attach(*DEVICES)
    with pytest.raises(error, match="backend"):
        zorvekcam.list_devices(backend=backend)
    with pytest.raises(error, match="backend"):
        asyncio.run(zorvekcam.alist_devices(backend=backend))
    assert scripted_devices.walks() == 0


@pytest.mark.parametrize("backend", [CAP_MSMF, CAP_DSHOW, 1, -1, 2**40])
def test_the_core_refuses_every_numbering_but_the_platforms_own_here(scripted_devices, backend):
    scripted_devices.attach(*DEVICES)
    with pytest.raises((ValueError, OverflowError), match="backend|too large|convert"):
        _core.list_cameras(False, backend)
    cameras, trace, failure = _core.list_cameras(traced=False, backend=0)
    assert ([c[0] for c in cameras], trace, failure) == (["Cam A", "Cam B"], None, None)
    assert scripted_devices.walks() == 1


def command(*args):
    return subprocess.run(
        child_command(list(DEVICES), "-m", "zorvekcam", *args),
        capture_output=True,
        text=True,
        env=child_env(),
        timeout=60,
    )


@pytest.mark.parametrize("name", ["msmf", "dshow"])
def test_the_command_refuses_a_backend_the_platform_lacks_with_status_2(name):
    out = command("--backend", name, "--json")
    assert (out.returncode, out.stdout) == (2, "")
    assert out.stderr.endswith(f"error: --backend {name}: this platform has no such backend (it has: v4l2)\n")


def test_the_command_lists_by_the_platforms_own_backend_and_refuses_an_unknown_name():
    chosen, plain = command("--backend", "v4l2", "--json"), command("--json")
    assert (chosen.returncode, chosen.stderr) == (0, "")
    assert chosen.stdout == plain.stdout and '"backend": 200' in chosen.stdout
    unknown = command("--backend", "gstreamer")
    assert unknown.returncode == 2 and "invalid choice: 'gstreamer'" in unknown.stderr
