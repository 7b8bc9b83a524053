"""Devices scripted from Python, for tests of the module's test build.

A test build (CMake with -DZORVEK_BUILD_TESTS=ON) puts into ``<build>/scripted/`` the module
``Zorvek`` and the package ``zorvekcam`` (its Python files beside its core ``_core``), both linked
with the scriptable device source ``libzorvek_scripted.so``, the records module ``zorvek_records``
and the test extension ``records_probe``. ctypes opens that same library, which the dynamic loader
hands back as the one already loaded, so what a test scripts is what the next call of either module
walks. The folder is ``build/tests/scripted`` under the project, or ``$ZORVEK_SCRIPTED_DIR`` (the
test command points it at an AddressSanitizer build).

In a test (``conftest.py`` here exposes the fixture; elsewhere import it from this module)::

    from scripted import Device, OTHER_PATH, target_path

    def test_two_cameras(scripted_devices):
        scripted_devices.attach(Device(target_path(0), "Cam A"), Device(OTHER_PATH, "Other"))
        records = scripted_devices.records.DeviceInfo(1)
        with scripted_devices.capture() as out:
            assert scripted_devices.Zorvek.getDeviceListInfo(1, records)
        assert out.text == scripted_devices.scan_trace()

In a child process, whose devices are scripted before the given Python command line runs::

    subprocess.run(child_command([Device(target_path(0), "Cam")], "-m", "somepackage", "--json"),
                   env=child_env(), capture_output=True)

``python scripted.py DEVICES_JSON [-m module | -c code | script] [args...]`` is that launcher.
"""

from __future__ import annotations

import contextlib
import ctypes
import dataclasses
import importlib
import importlib.machinery
import json
import os
import runpy
import sys
from pathlib import Path
from typing import Iterator, Sequence

import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "support"))
from capture import Captured, stdout_captured  # noqa: E402
SCRIPTED_DIR = Path(os.environ.get("ZORVEK_SCRIPTED_DIR") or ROOT / "build" / "tests" / "scripted").resolve()

S_OK = 0
S_FALSE = 1
E_FAIL = -0x7FFFBFFB  # 0x80004005 as the signed HRESULT the C interface takes
INT_MAX = 2**31 - 1

_DEVICE_CLASS = "{65e8773d-8f56-11d0-a3b9-00a0c9223196}"


def target_path(n: int = 0, case: str = "lower") -> str:
    """The path of the n-th distinct camera of the target model, as a device reports it."""
    path = f"\\\\?\\usb#vid_2560&pid_c0d6&mi_00#6&{n:x}a2b3c4d&0&0000#{_DEVICE_CLASS}\\global"
    return path.upper() if case == "upper" else path


def other_path(n: int = 0) -> str:
    """The path of the n-th distinct camera of another model."""
    return f"\\\\?\\usb#vid_046d&pid_0825&mi_00#7&{n:x}2b&0&0000#{_DEVICE_CLASS}\\global"


TARGET_PATH = target_path(0)
OTHER_PATH = other_path(0)


@dataclasses.dataclass(frozen=True)
class Device:
    """One video input device as the scripted system device enumerator lists it.

    ``path`` or ``name`` None: reading that property fails. ``first_walk``/``last_walk``: the walks
    (one per category enumerator, counted from 0 when the script is set) that list the device, for
    a camera plugged in late or unplugged between two calls.
    """

    path: str | None
    name: str | None = "Camera"
    bind_result: int = S_OK
    throw_on_read: bool = False
    first_walk: int = 0
    last_walk: int = INT_MAX
    serial: str | None = None
    port: str | None = None

    def is_target(self) -> bool:
        """Whether the module counts it (paths of this helper's shapes only)."""
        if self.path is None:
            return False
        path = self.path.upper()
        return _id_after(path, "VID_") == "2560" and _id_after(path, "PID_") == "C0D6"


def _id_after(path: str, key: str) -> str:
    at = path.find(key)
    return path[at + 4 : at + 8] if at >= 0 else ""


def module_file(name: str = "Zorvek", folder: Path | None = None) -> Path | None:
    """The extension file `name` in the folder of the test build, if it was built."""
    for suffix in importlib.machinery.EXTENSION_SUFFIXES:
        candidate = (folder or SCRIPTED_DIR) / f"{name}{suffix}"
        if candidate.is_file():
            return candidate
    return None


def package_missing_reason() -> str | None:
    """Why the scripted devices cannot be had here, or None when they can (the package zorvekcam over
    them, on any CPython from 3.11 on: its core is built for the stable ABI)."""
    if sys.platform == "win32":
        return "the scriptable device source exists only where COM is stood in for"
    if module_file("_core", SCRIPTED_DIR / "zorvekcam") is None:
        return f"no test build of the module in {SCRIPTED_DIR} (configure with -DZORVEK_BUILD_TESTS=ON)"
    return None


def missing_reason() -> str | None:
    """Why the scripted tests of Zorvek cannot run here, or None when they can."""
    reason = package_missing_reason()
    if reason is None and (module_file() is None or module_file("zorvek_records") is None):
        if sys.version_info[:2] != (3, 11):
            return f"Zorvek and zorvek_records are built for CPython 3.11 only, and this is {sys.version.split()[0]}"
        return f"no test build of the module in {SCRIPTED_DIR} (configure with -DZORVEK_BUILD_TESTS=ON)"
    return reason


class ScriptedDevices:
    """The test build imported into this process, and the control of its devices."""

    def __init__(self) -> None:
        reason = package_missing_reason()
        if reason:
            raise RuntimeError(reason)
        folder = str(SCRIPTED_DIR)
        if folder not in sys.path:
            sys.path.insert(0, folder)
        # Zorvek and the records where they load (CPython 3.11); elsewhere a test that asks for them is
        # skipped at that point, with the reason.
        self._without_zorvek = missing_reason()
        if self._without_zorvek is None:
            self._zorvek = importlib.import_module("Zorvek")
            self._records = importlib.import_module("zorvek_records")
            for module in (self._zorvek, self._records):
                if Path(module.__file__).resolve().parent != SCRIPTED_DIR:
                    raise RuntimeError(f"{module.__name__} was imported from {module.__file__} before the test build")
        self._library = ctypes.CDLL(str(SCRIPTED_DIR / "libzorvek_scripted.so"))
        lib = self._library
        lib.scripted_reset.argtypes = [ctypes.c_int] * 3
        lib.scripted_add_device.argtypes = [ctypes.c_char_p, ctypes.c_char_p] + [ctypes.c_int] * 4
        lib.scripted_identify_last.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
        lib.scripted_walks.restype = ctypes.c_int
        lib.scripted_live_references.restype = ctypes.c_long
        lib.scripted_live_bstrs.restype = ctypes.c_long
        self.devices: tuple[Device, ...] = ()

    @property
    def Zorvek(self):  # noqa: N802  (the module's name)
        if self._without_zorvek:
            pytest.skip(self._without_zorvek)
        return self._zorvek

    @property
    def records(self):
        if self._without_zorvek:
            pytest.skip(self._without_zorvek)
        return self._records

    def probe(self):
        """The test extension ``records_probe``: a class of another extension for one record."""
        return importlib.import_module("records_probe")

    def attach(
        self,
        *devices: Device,
        create_result: int = S_OK,
        category_result: int = S_OK,
        fail_from_walk: int = 0,
    ) -> None:
        """Replaces the script: these devices, in enumeration order, and the walk count from 0."""
        self._library.scripted_reset(create_result, category_result, fail_from_walk)
        for d in devices:
            self._library.scripted_add_device(
                None if d.path is None else d.path.encode(),
                None if d.name is None else d.name.encode(),
                d.bind_result,
                int(d.throw_on_read),
                d.first_walk,
                d.last_walk,
            )
            if d.serial is not None or d.port is not None:
                self._library.scripted_identify_last(
                    None if d.serial is None else d.serial.encode(), None if d.port is None else d.port.encode())
        self.devices = devices

    def walks(self) -> int:
        """Walks over the devices (scans and record walks) since the script was set."""
        return self._library.scripted_walks()

    def live_references(self) -> int:
        return self._library.scripted_live_references()

    def live_bstrs(self) -> int:
        return self._library.scripted_live_bstrs()

    def capture(self) -> contextlib.AbstractContextManager[Captured]:
        """``with devices.capture() as out: ...``, then ``out.text`` is the trace."""
        return stdout_captured()

    def traced(self, function, *args):
        """(result, trace) of one call."""
        with self.capture() as out:
            result = function(*args)
        return result, out.text

    def scan_trace(self, walk: int = 0) -> str:
        """What one scan writes over the attached devices, for the scan that is walk `walk`."""
        return scan_trace([d for d in self.devices if d.first_walk <= walk <= d.last_walk])


def scan_trace(devices: Sequence[Device]) -> str:
    """The trace of one scan over these devices (all listed, all bound, no failure injected)."""
    text = "initialize is statred"
    if not devices:
        return text + "NotInitialized Error"
    text += "Before While loop"
    mask = 0
    slot = 0
    for device in devices:
        text += "Entered a While loop" " While loop hr successed"
        if device.path is None:
            continue
        text += " While loop hr S_OK successed" " While loop hr devicePath != NULL successed"
        upper = device.path.upper()
        if "VID_" in upper:
            text += " While loop hr wcsncpy_s(extrctd_vid, vid_substr + 4, 4) successed"
        if "PID_" in upper:
            text += "While loop - pid_substr != NULL - wcsncpy_s(extrctd_pid, pid_substr + 4, 4);"
        text += "Before index list is fill"
        if device.is_target():
            mask |= 1 << (slot % 32)
            slot += 1
            text += f"Before index list is : {mask - 2**32 if mask >= 2**31 else mask}\n"
    return text


_loaded: ScriptedDevices | None = None


def load() -> ScriptedDevices:
    """The test build, imported into this process once."""
    global _loaded
    if _loaded is None:
        _loaded = ScriptedDevices()
    return _loaded


@pytest.fixture
def scripted_devices() -> Iterator[ScriptedDevices]:
    """The test build with no device attached; afterwards, nothing of COM may be left alive."""
    reason = package_missing_reason()
    if reason:
        pytest.skip(reason)
    devices = load()
    devices.attach()
    yield devices
    assert devices.live_references() == 0, "a COM reference outlived the call"
    assert devices.live_bstrs() == 0, "a BSTR outlived the call"
    devices.attach()


def child_env(extra: dict[str, str] | None = None) -> dict[str, str]:
    """The environment for a child that imports the test build: it comes first on the path."""
    env = dict(os.environ)
    env["ZORVEK_SCRIPTED_DIR"] = str(SCRIPTED_DIR)
    env["PYTHONPATH"] = os.pathsep.join([str(SCRIPTED_DIR), str(Path(__file__).parent)] + [p for p in [env.get("PYTHONPATH")] if p])
    env.update(extra or {})
    return env


def child_command(devices: Sequence[Device], *python_args: str, **script: int) -> list[str]:
    """The command line of a child Python that attaches `devices` (and the keyword arguments of
    `ScriptedDevices.attach`), then runs `python_args` as ``python`` would: ``-m module``, ``-c code``
    or a script, with its arguments."""
    plan = {"devices": [dataclasses.asdict(d) for d in devices], "script": script}
    return [sys.executable, str(Path(__file__).resolve()), json.dumps(plan), *python_args]


def _run_child(argv: list[str]) -> None:
    plan = json.loads(argv[0])
    load().attach(*(Device(**d) for d in plan["devices"]), **plan["script"])
    rest = argv[1:]
    if not rest:
        return
    if rest[0] == "-m":
        sys.argv = [rest[1], *rest[2:]]
        runpy.run_module(rest[1], run_name="__main__", alter_sys=True)
    elif rest[0] == "-c":
        sys.argv = ["-c", *rest[2:]]
        exec(compile(rest[1], "<string>", "exec"), {"__name__": "__main__"})
    else:
        sys.argv = rest
        runpy.run_path(rest[0], run_name="__main__")


if __name__ == "__main__":
    _run_child(sys.argv[1:])
