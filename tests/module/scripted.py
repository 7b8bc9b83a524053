"""Devices scripted from Python, for tests of the module's test build. A test build (CMake with
-DZORVEK_BUILD_TESTS=ON) puts ``Zorvek``, ``zorvekcam``, ``zorvek_records`` and the test extension
``records_probe`` into ``build/tests/scripted`` (or ``$ZORVEK_SCRIPTED_DIR``: the test command points
it at an AddressSanitizer build), all linked with ``libzorvek_scripted.so``. ctypes opens that same
library, which the dynamic loader hands back as the one already loaded, so what a test scripts
(``scripted_devices.attach(Device(target_path(0), "Cam A"))``) is what the next call walks.
``python scripted.py DEVICES_JSON -m module | -c code [args...]`` (see `child_command`) runs a child
Python over scripted devices."""

from __future__ import annotations

import contextlib
import ctypes
import dataclasses
import functools
import importlib
import importlib.machinery
import json
import os
import runpy
import sys
from pathlib import Path
from collections.abc import Iterator, Sequence

import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "support"))
from capture import Captured, stdout_captured  # noqa: E402

SCRIPTED_DIR = Path(os.environ.get("ZORVEK_SCRIPTED_DIR") or ROOT / "build" / "tests" / "scripted").resolve()

S_OK = 0
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


@dataclasses.dataclass(frozen=True)
class Device:
    """One video input device as the scripted system device enumerator lists it. ``path`` or ``name``
    None: reading that property fails. It is listed by walks (one per category enumerator, counted
    from 0 when the script is set) ``first_walk`` to ``last_walk``."""

    path: str | None
    name: str | None = "Camera"
    bind_result: int = S_OK
    throw_on_read: bool = False
    first_walk: int = 0
    last_walk: int = INT_MAX
    serial: str | None = None
    port: str | None = None
    # What reading the modes of its node (a path ending in "videoN") gives: these modes (see
    # `scripted_mode`), or, where `modes_failure` is (step, error), that failure.
    modes: tuple[tuple[int, ...], ...] = ()
    modes_failure: tuple[str, int] | None = None


DISCRETE, STEPWISE, CONTINUOUS = 0, 1, 2


def fourcc(text: str) -> int:
    """The FourCC of four characters, the first in the low byte, as V4L2 makes it."""
    return int.from_bytes(text.encode("latin-1"), "little")


def scripted_mode(
    format: str | int,
    width: int,
    height: int,
    interval: tuple[int, int] | None = None,
    *,
    sizes: int = DISCRETE,
    max_size: tuple[int, int] = (0, 0),
    size_step: tuple[int, int] = (0, 0),
    rates: int = DISCRETE,
    max_interval: tuple[int, int] = (0, 1),
    interval_step: tuple[int, int] = (0, 1),
) -> tuple[int, ...]:
    """One mode as a backend hands it over (CameraMode's fields in order); `interval` None: no rate."""
    code = fourcc(format) if isinstance(format, str) else format
    return (
        code,
        sizes,
        width,
        height,
        *max_size,
        *size_step,
        interval is not None,
        rates,
        *(interval or (0, 1)),
        *max_interval,
        *interval_step,
    )


def built(name: str, folder: Path = SCRIPTED_DIR) -> bool:
    """Whether the test build has the extension `name` in that folder."""
    return any((folder / f"{name}{s}").is_file() for s in importlib.machinery.EXTENSION_SUFFIXES)


NOT_BUILT = f"no test build of the module in {SCRIPTED_DIR} (configure with -DZORVEK_BUILD_TESTS=ON)"


def package_missing_reason() -> str | None:
    """Why the scripted devices cannot be had here, or None when they can (the package zorvekcam over
    them, on any CPython from 3.11 on: its core is built for the stable ABI)."""
    if sys.platform == "win32":
        return "the scriptable device source exists only where COM is stood in for"
    return None if built("_core", SCRIPTED_DIR / "zorvekcam") else NOT_BUILT


def missing_reason() -> str | None:
    """Why the scripted tests of Zorvek cannot run here, or None when they can."""
    reason = package_missing_reason()
    if reason or (built("Zorvek") and built("zorvek_records")):
        return reason
    if sys.version_info[:2] != (3, 11):
        return f"Zorvek and zorvek_records are built for CPython 3.11 only, and this is {sys.version.split()[0]}"
    return NOT_BUILT


class ScriptedDevices:
    """The test build imported into this process, and the control of its devices."""

    def __init__(self) -> None:
        reason = package_missing_reason()
        if reason:
            raise RuntimeError(reason)
        if str(SCRIPTED_DIR) not in sys.path:
            sys.path.insert(0, str(SCRIPTED_DIR))
        # Zorvek and the records where they load (CPython 3.11); elsewhere a test that asks for them is
        # skipped at that point, with the reason.
        self._without_zorvek, self._zorvek, self._records = missing_reason(), None, None
        if self._without_zorvek is None:
            self._zorvek = importlib.import_module("Zorvek")
            self._records = importlib.import_module("zorvek_records")
            for module in (self._zorvek, self._records):
                if Path(module.__file__).resolve().parent != SCRIPTED_DIR:
                    raise RuntimeError(f"{module.__name__} was imported from {module.__file__} before the test build")
        lib = self._library = ctypes.CDLL(str(SCRIPTED_DIR / "libzorvek_scripted.so"))
        lib.scripted_reset.argtypes = [ctypes.c_int] * 3
        lib.scripted_add_device.argtypes = [ctypes.c_char_p, ctypes.c_char_p] + [ctypes.c_int] * 4
        lib.scripted_identify_last.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
        lib.scripted_category_errno.argtypes = [ctypes.c_int]
        lib.scripted_live_references.restype = lib.scripted_live_bstrs.restype = ctypes.c_long
        lib.scripted_add_mode.argtypes = (
            [ctypes.c_uint, ctypes.c_int] + [ctypes.c_uint] * 6 + [ctypes.c_int, ctypes.c_int] + [ctypes.c_uint] * 6
        )
        lib.scripted_fail_modes.argtypes = [ctypes.c_char_p, ctypes.c_int]
        lib.scripted_hold_modes.argtypes = [ctypes.c_int]
        # Readings of modes since the script was set; holding them (a reading waits until released,
        # at most 10 s) and how many wait now.
        self.mode_readings, self.hold_modes, self.modes_waiting = (
            lib.scripted_mode_readings,
            lib.scripted_hold_modes,
            lib.scripted_modes_waiting,
        )
        # Walks over the devices (scans and record walks) since the script was set; what of the COM
        # stand-in is still alive.
        self.walks, self.live_references, self.live_bstrs = (
            lib.scripted_walks,
            lib.scripted_live_references,
            lib.scripted_live_bstrs,
        )
        self.devices: tuple[Device, ...] = ()

    def _loaded(self, module):
        if self._without_zorvek:
            pytest.skip(self._without_zorvek)
        return module

    Zorvek = property(lambda self: self._loaded(self._zorvek))  # noqa: N815  (the module's name)
    records = property(lambda self: self._loaded(self._records))

    def probe(self):
        """The test extension ``records_probe``: a class of another extension for one record."""
        return importlib.import_module("records_probe")

    def attach(
        self,
        *devices: Device,
        create_result: int = S_OK,
        category_result: int = S_OK,
        fail_from_walk: int = 0,
        category_errno: int = 0,
    ) -> None:
        """Replaces the script: these devices, in enumeration order, and the walk count from 0.
        `category_errno`: a failing category is a system call's failure with that errno."""

        def text(value: str | None) -> bytes | None:
            return None if value is None else value.encode()

        self._library.scripted_reset(create_result, category_result, fail_from_walk)
        self._library.scripted_category_errno(category_errno)
        for d in devices:
            self._library.scripted_add_device(
                text(d.path), text(d.name), d.bind_result, int(d.throw_on_read), d.first_walk, d.last_walk
            )
            if d.serial is not None or d.port is not None:
                self._library.scripted_identify_last(text(d.serial), text(d.port))
            for mode in d.modes:
                self._library.scripted_add_mode(*mode)
            if d.modes_failure is not None:
                self._library.scripted_fail_modes(text(d.modes_failure[0]), d.modes_failure[1])
        self.devices = devices

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
    """The trace of one scan over these devices (all listed, all bound, no failure injected; paths of
    this helper's shapes only)."""
    text = "initialize is statred"
    if not devices:
        return text + "NotInitialized Error"
    text += "Before While loop"
    mask = 0
    for device in devices:
        text += "Entered a While loop While loop hr successed"
        if device.path is None:
            continue
        text += " While loop hr S_OK successed While loop hr devicePath != NULL successed"
        upper = device.path.upper()
        ids = [upper[upper.find(key) + 4 :][:4] if key in upper else None for key in ("VID_", "PID_")]
        text += " While loop hr wcsncpy_s(extrctd_vid, vid_substr + 4, 4) successed" * (ids[0] is not None)
        text += "While loop - pid_substr != NULL - wcsncpy_s(extrctd_pid, pid_substr + 4, 4);" * (ids[1] is not None)
        text += "Before index list is fill"
        if ids == ["2560", "C0D6"]:  # the next slot's bit; slots past 32 wrap onto those set already
            mask = (mask << 1 | 1) & 0xFFFFFFFF
            text += f"Before index list is : {mask - 2**32 if mask >= 2**31 else mask}\n"
    return text


@functools.cache
def load() -> ScriptedDevices:
    """The test build, imported into this process once."""
    return ScriptedDevices()


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


def child_env() -> dict[str, str]:
    """The environment for a child that imports the test build: it comes first on the path."""
    path = [str(SCRIPTED_DIR), str(Path(__file__).parent)] + [p for p in [os.environ.get("PYTHONPATH")] if p]
    return dict(os.environ, ZORVEK_SCRIPTED_DIR=str(SCRIPTED_DIR), PYTHONPATH=os.pathsep.join(path))


def child_command(devices: Sequence[Device], *python_args: str, **script: int) -> list[str]:
    """The command line of a child Python that attaches `devices` (and the keyword arguments of
    `ScriptedDevices.attach`), then runs `python_args` (``-m module ...`` or ``-c code ...``)."""
    plan = {"devices": [dataclasses.asdict(d) for d in devices], "script": script}
    return [sys.executable, str(Path(__file__).resolve()), json.dumps(plan), *python_args]


if __name__ == "__main__":
    plan, option, what, *args = json.loads(sys.argv[1]), *sys.argv[2:]
    load().attach(
        *(Device(**(d | {"modes": tuple(map(tuple, d["modes"]))})) for d in plan["devices"]), **plan["script"]
    )
    if option == "-m":
        sys.argv = [what, *args]
        runpy.run_module(what, run_name="__main__", alter_sys=True)
    else:
        sys.argv = ["-c", *args]
        exec(compile(what, "<string>", "exec"), {"__name__": "__main__"})
