"""Media Foundation's index in the installed Windows wheel (scripts/test_windows.sh runs these under
Wine), over devices written into the registry and a stand-in mf.dll of the tests' own
(tests/windows/mf_standin/, built by scripts/windows_msmf.sh into ZORVEK_MF_STANDIN_DIR) that lists
the video capture sources each test names, in an order of its own. cv2-enumerate-cameras, installed
beside the wheel, reads the same stand-in's list: its MSMF list is the independent check of the index.
Wine's own mf.dll lists no capture source at all."""

import asyncio
import ctypes
import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

if sys.platform != "win32":
    pytest.skip("Windows CPython only (scripts/test_windows.sh)", allow_module_level=True)
if os.environ.get("ZORVEK_TEST_WINE_PREFIX") != "1":
    pytest.skip("writes the registry: for a Wine prefix of the tests' own only", allow_module_level=True)
STANDIN_DIR = os.environ.get("ZORVEK_MF_STANDIN_DIR")
if not STANDIN_DIR:
    pytest.skip("no stand-in mf.dll (scripts/windows_msmf.sh needs mingw-w64)", allow_module_level=True)

sys.path[:0] = [str(Path(__file__).resolve().parents[1] / "module"), str(Path(__file__).resolve().parent)]
from scripted import Device, other_path, target_path  # noqa: E402
from test_windows_python import plug, unplug  # noqa: E402

import spawn  # noqa: E402  (tests/support, which test_windows_python puts on the path)

import zorvekcam  # noqa: E402
from zorvekcam import CAP_DSHOW, CAP_MSMF, CAP_V4L2, EnumerationError  # noqa: E402

DIRECTSHOW_CLASS = "{65e8773d-8f56-11d0-a3b9-00a0c9223196}"
MEDIA_FOUNDATION_CLASS = "{e5323777-f976-4f5b-9b55-b94699c46e44}"


def link(path: str) -> str:
    """The Media Foundation symbolic link of the device behind a DirectShow DevicePath."""
    return path.replace(DIRECTSHOW_CLASS, MEDIA_FOUNDATION_CLASS)


def script(*sources: tuple[str, str]) -> str:
    return "".join(f"{name}\t{symbolic_link}\n" for name, symbolic_link in sources)


def live_sources() -> int:
    """How many of the stand-in's sources are alive, as it keeps count in the process's environment
    (unset until it made its first)."""
    buffer = ctypes.create_unicode_buffer(32)
    ctypes.windll.kernel32.GetEnvironmentVariableW("ZORVEK_MF_STANDIN_LIVE", buffer, 32)
    return int(buffer.value or 0)


@pytest.fixture
def registry():
    """Writes devices into the registry (test_windows_python's plug), and removes them after."""
    unplug()
    yield plug
    unplug()


@pytest.fixture
def standin(monkeypatch):
    """The stand-in mf.dll found before Wine's, listing what the test sets with the returned call."""
    directory = os.add_dll_directory(STANDIN_DIR)

    def lists(*lines: tuple[str, str] | str) -> None:
        text = "".join(line + "\n" if isinstance(line, str) else script(line) for line in lines)
        monkeypatch.setenv("ZORVEK_MF_STANDIN", text)

    lists()
    yield lists
    directory.close()


# DirectShow: Other 0, Cam A 1, Cam B 2, Cam C 3. Media Foundation lists C (in capitals), a virtual
# camera DirectShow does not list, Other and A, and not B.
DEVICES = (
    Device(other_path(0), "Other"),
    Device(target_path(0), "Cam A"),
    Device(target_path(1), "Cam B"),
    Device(target_path(2), "Cam C"),
)
MSMF = (
    ("Cam C", link(target_path(2)).upper()),
    ("Virtual", r"\\?\swd#vcam#0000#" + MEDIA_FOUNDATION_CLASS + r"\global"),
    ("Other", link(other_path(0))),
    ("Cam A", link(target_path(0))),
)
EXPECTED = [("Cam C", 0, CAP_MSMF, target_path(2, "upper")), ("Cam A", 3, CAP_MSMF, target_path(0, "upper"))]


def fields(cameras) -> list[tuple]:
    return [(c.name, c.index, c.backend, c.path) for c in cameras]


def test_the_msmf_index_is_the_position_cv2_enumerate_cameras_gives_in_media_foundations_order(registry, standin):
    registry(*DEVICES)
    standin(*MSMF)
    assert [(c.name, c.index) for c in zorvekcam.list_devices()] == [("Cam A", 1), ("Cam B", 2), ("Cam C", 3)]
    before = live_sources()
    cameras = zorvekcam.list_devices(backend=CAP_MSMF)
    assert live_sources() == before  # every source the listing got, released
    assert fields(cameras) == EXPECTED
    assert asyncio.run(zorvekcam.alist_devices(backend=CAP_MSMF)) == cameras

    from cv2_enumerate_cameras import enumerate_cameras

    peer = enumerate_cameras(CAP_MSMF)
    assert [info.name for info in peer] == [name for name, _ in MSMF]
    targets = [info for info in peer if (info.vid, info.pid) == (0x2560, 0xC0D6)]
    assert [info.index for info in targets] == [c.index for c in cameras]
    for camera, info in zip(cameras, targets):
        assert (info.name, info.backend) == (camera.name, camera.backend)
        assert info.path.upper() == link(camera.path.lower()).upper()


@pytest.mark.parametrize("order", ["same", "reversed"])
def test_cameras_come_in_media_foundations_order_whatever_directshows(registry, standin, order):
    registry(*DEVICES[1:])
    sources = [("Cam A", link(target_path(0))), ("Cam B", link(target_path(1))), ("Cam C", link(target_path(2)))]
    if order == "reversed":
        sources.reverse()
    standin(*sources)
    assert [(c.name, c.index) for c in zorvekcam.list_devices(CAP_MSMF)] == [(n, i) for i, (n, _) in enumerate(sources)]


def test_nothing_listed_is_an_empty_listing_and_a_failed_enumeration_an_error(registry, standin):
    registry(*DEVICES)
    assert zorvekcam.list_devices(CAP_MSMF) == []
    standin(("Other", link(other_path(0))))
    assert zorvekcam.list_devices(CAP_MSMF) == []
    standin(("Cam A", link(target_path(0))), "!80004005")
    with pytest.raises(EnumerationError) as raised:
        zorvekcam.list_devices(CAP_MSMF)
    assert (raised.value.step, raised.value.hresult) == ("MFEnumDeviceSources", 0x80004005)
    assert len(zorvekcam.list_devices()) == 3  # DirectShow's listing is not Media Foundation's


@pytest.mark.parametrize(
    "backend, error", [(CAP_V4L2, ValueError), (1234, ValueError), (0, ValueError), (True, TypeError)]
)
def test_a_backend_windows_lacks_is_refused_and_dshow_is_todays_listing(registry, backend, error):
    registry(*DEVICES)
    with pytest.raises(error, match="backend"):
        zorvekcam.list_devices(backend)
    assert zorvekcam.list_devices(CAP_DSHOW) == zorvekcam.list_devices()


def child(code: str, *args: str, env: dict[str, str] | None = None) -> subprocess.CompletedProcess:
    return spawn.run(
        [sys.executable, "-c", code, *args], capture_output=True, text=True, timeout=120, env=os.environ | (env or {})
    )


# The command in a child Python that finds the stand-in first, as an application with mf.dll
# beside it would.
COMMAND = (
    "import os, runpy, sys\nos.add_dll_directory(sys.argv[1])\nsys.argv = ['zorvekcam', *sys.argv[2:]]\n"
    "runpy.run_module('zorvekcam', run_name='__main__', alter_sys=True)"
)


def test_the_command_lists_by_media_foundations_index_and_refuses_v4l2(registry):
    registry(*DEVICES)
    env = {"ZORVEK_MF_STANDIN": script(*MSMF)}
    out = child(COMMAND, STANDIN_DIR, "--backend", "msmf", "--json", env=env)
    assert (out.returncode, out.stderr) == (0, "")
    assert [(c["name"], c["index"], c["backend"], c["path"]) for c in json.loads(out.stdout)] == EXPECTED
    table = child(COMMAND, STANDIN_DIR, "--backend", "msmf", env=env)
    assert table.returncode == 0
    assert [line.split()[:4] for line in table.stdout.splitlines()[1:]] == [
        ["Cam", "C", "2560", "C0D6"],
        ["Cam", "A", "2560", "C0D6"],
    ]
    dshow = child(COMMAND, STANDIN_DIR, "--backend", "dshow", "--json", env=env)
    assert [(c["name"], c["index"]) for c in json.loads(dshow.stdout)] == [("Cam A", 1), ("Cam B", 2), ("Cam C", 3)]
    refused = child(COMMAND, STANDIN_DIR, "--backend", "v4l2", env=env)
    assert (refused.returncode, refused.stdout) == (2, "")
    assert refused.stderr.endswith("error: --backend v4l2: this platform has no such backend (it has: msmf, dshow)\n")
    # A watch keeps DirectShow's index.
    watching = child(COMMAND, STANDIN_DIR, "--watch", "--backend", "msmf", env=env)
    assert (watching.returncode, watching.stdout) == (2, "")
    assert watching.stderr.endswith("error: --backend msmf is for a listing: --watch gives the platform's own index\n")


def test_wines_own_media_foundation_lists_no_camera_and_that_is_no_error(registry):
    registry(*DEVICES)
    code = (
        "import json, zorvekcam\nprint(json.dumps([len(zorvekcam.list_devices()), "
        "[c.index for c in zorvekcam.list_devices(zorvekcam.CAP_MSMF)]]))"
    )
    # A child with no stand-in on its search path, though the stand-in's list is in its environment.
    out = child(code, env={"ZORVEK_MF_STANDIN": script(*MSMF)})
    assert (out.returncode, out.stderr, json.loads(out.stdout)) == (0, "", [3, []])


@pytest.mark.parametrize(
    "kind, step, hresult",
    [
        ("not_a_dll", "LoadLibraryExW(mf.dll)", 0x800700C1),  # ERROR_BAD_EXE_FORMAT
        ("no_entry", "GetProcAddress(MFEnumDeviceSources)", 0x8007007F),  # ERROR_PROC_NOT_FOUND
    ],
)
def test_an_unusable_mf_dll_fails_only_the_msmf_listing(registry, tmp_path, kind, step, hresult):
    registry(*DEVICES)
    if kind == "not_a_dll":
        (tmp_path / "mf.dll").write_bytes(b"MZ" + bytes(4094))
    else:  # a DLL of its own, without the entry: python3.dll, renamed
        (tmp_path / "mf.dll").write_bytes((Path(sys.base_prefix) / "python3.dll").read_bytes())
    code = (
        "import json, os, sys\nos.add_dll_directory(sys.argv[1])\nimport zorvekcam\n"
        "listed = [c.index for c in zorvekcam.list_devices()]\n"
        "try:\n    zorvekcam.list_devices(zorvekcam.CAP_MSMF)\n    failure = None\n"
        "except zorvekcam.EnumerationError as error:\n    failure = [error.step, error.hresult]\n"
        "print(json.dumps([listed, failure]))"
    )
    out = child(code, str(tmp_path))
    assert (out.returncode, out.stderr) == (0, "")
    assert json.loads(out.stdout) == [[1, 2, 3], [step, hresult]]
