"""The installed Windows wheel in Windows CPython (scripts/test_windows.sh runs these under Wine), over
devices written into the registry, whose video input category the system device enumerator lists.
Only for a prefix of the tests' own: they create and delete keys ZorvekTestDevice<n> there."""

import asyncio
import ctypes
import json
import locale
import os
import subprocess
import sys
import sysconfig
import threading
from pathlib import Path

import pytest

if sys.platform != "win32":
    pytest.skip("Windows CPython only (scripts/test_windows.sh)", allow_module_level=True)
# The tests write device keys and a class registration into the registry: a Wine prefix's only
# (scripts/test_windows.sh says so), never a real machine's.
if os.environ.get("ZORVEK_TEST_WINE_PREFIX") != "1":
    pytest.skip("writes the registry: for a Wine prefix of the tests' own only", allow_module_level=True)

import winreg  # noqa: E402
from ctypes import wintypes  # noqa: E402

sys.path[:0] = [str(Path(__file__).resolve().parents[1] / name) for name in ("module", "support")]
import spawn  # noqa: E402
from capture import stdout_captured  # noqa: E402
from scripted import Device, other_path, scan_trace, target_path  # noqa: E402
from test_module_scenarios import cameras  # noqa: E402

import zorvekcam  # noqa: E402

# Zorvek and zorvek_records load in CPython 3.11 only; on later versions the wheel holds zorvekcam
# alone, whose cases run there, and those of the modules are skipped with the reason their import gave
# (tests/smoke.py checks that reason).
try:
    import Zorvek  # noqa: E402
    import zorvek_records  # noqa: E402

    without_zorvek = None
except ImportError as refused:
    if sys.version_info[:2] == (3, 11):
        raise
    without_zorvek = str(refused)
needs_zorvek = pytest.mark.skipif(without_zorvek is not None, reason=str(without_zorvek))

INSTANCE = r"CLSID\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\Instance"
OWN = "ZorvekTestDevice"


def own_keys() -> list[str]:
    try:
        instance = winreg.OpenKey(winreg.HKEY_CLASSES_ROOT, INSTANCE)
    except FileNotFoundError:
        return []
    with instance:
        names = [winreg.EnumKey(instance, i) for i in range(winreg.QueryInfoKey(instance)[0])]
    return [name for name in names if name.startswith(OWN)]


def unplug(*names: str) -> None:
    for name in names or own_keys():
        winreg.DeleteKey(winreg.HKEY_CLASSES_ROOT, rf"{INSTANCE}\{name}")


def plug(*devices: Device, first: int = 0) -> list[str]:
    """The devices as keys numbered in enumeration order (the enumerator lists keys by name)."""
    names = []
    for number, device in enumerate(devices, first):
        names.append(f"{OWN}{number:03}")
        with winreg.CreateKey(winreg.HKEY_CLASSES_ROOT, rf"{INSTANCE}\{names[-1]}") as key:
            for value, text in (("DevicePath", device.path), ("FriendlyName", device.name)):
                if text is not None:
                    winreg.SetValueEx(key, value, 0, winreg.REG_SZ, text)
    return names


@pytest.fixture
def registry():
    unplug()
    yield plug
    unplug()


def traced(function, *args):
    with stdout_captured() as out:
        result = function(*args)
    return result, out.text


def image(name: str, path: str) -> bytes:
    return name.encode().ljust(50, b"\0") + b"2560\0C0D6\0" + path.upper().encode().ljust(550, b"\0")


@needs_zorvek
def test_scans_and_records_over_registry_devices(registry):
    assert traced(Zorvek.getDeviceCount, 0) == (
        False,
        "initialize is statredNotInitialized ErrorDevice is not connected",
    )
    devices = cameras(2)
    registry(*devices)
    scan = scan_trace(devices)
    assert scan.count("Before index list is : ") == 2
    records = zorvek_records.DeviceInfo(3)
    assert traced(Zorvek.getDeviceCount, 0) == (True, scan)
    assert traced(Zorvek.getDeviceListInfo, 2, records) == (True, scan * 2)
    assert traced(Zorvek.getDeviceInfo, 1, records) == (True, scan)
    assert [records[i].raw for i in range(3)] == [
        image("Zorvek Cam 1", target_path(1)),
        image("Zorvek Cam 1", target_path(1)),
        bytes(610),
    ]
    assert traced(Zorvek.getDeviceListInfo, 3, records) == (False, scan * 3 + "InvalidDeviceIndexother issue")
    assert traced(Zorvek.getDeviceInfo, 2, records) == (False, scan + "InvalidDeviceIndex")
    assert records[0].raw == image("Zorvek Cam 0", target_path(0))
    # Records of a second extension that registers the record type: records_probe, built by the
    # test stage with the same compiler (ZORVEK_RECORDS_PROBE_DIR).
    sys.path.insert(0, os.environ["ZORVEK_RECORDS_PROBE_DIR"])
    import records_probe

    single = records_probe.DeviceInfo()
    assert traced(Zorvek.getDeviceListInfo, 2, single) == (False, scan + "other issue")
    assert traced(Zorvek.getDeviceInfo, 1, single) == (True, scan)
    assert single.raw == image("Zorvek Cam 1", target_path(1))
    shared = zorvek_records.DeviceInfo()
    records_probe.write_global(shared, b"Probe\0")
    assert shared[0].friendlyName == "Probe"


@needs_zorvek
@pytest.mark.parametrize(
    "ctype, field",
    [
        # The process's C runtime converts the name in the locale Python set: one the module shares
        # only as a DLL of that runtime (/MD).
        (".UTF-8", "Caméra Ünï".encode()),
        ("English_United States.1252", "Caméra Ünï".encode("cp1252")),
    ],
)
def test_names_are_converted_in_the_locale_python_sets(registry, ctype, field):
    registry(Device(target_path(0), "Caméra Ünï"))
    saved = locale.setlocale(locale.LC_CTYPE)
    try:
        locale.setlocale(locale.LC_CTYPE, ctype)
        records = zorvek_records.DeviceInfo()
        assert traced(Zorvek.getDeviceInfo, 0, records)[0]
    finally:
        locale.setlocale(locale.LC_CTYPE, saved)
    assert records[0].raw[:50] == field.ljust(50, b"\0")


def command(*args: str) -> subprocess.CompletedProcess:
    exe = Path(sysconfig.get_path("scripts")) / "zorvekcam.exe"
    return spawn.run([str(exe), *args], capture_output=True, text=True, timeout=120, cwd=os.path.dirname(exe))


def test_the_package_and_its_console_command_list_by_position_among_all_devices(registry):
    none = command("--json")
    assert (none.returncode, none.stdout, none.stderr) == (1, "[]\n", "")
    registry(
        Device(other_path(0), "Other"),
        Device(target_path(0), "Cam\x1bA"),
        Device(None, "No path"),
        Device(target_path(1, "upper"), "Cam B"),
    )
    with stdout_captured() as out:
        listed = zorvekcam.list_devices()
    assert out.text == ""
    fields = ("name", "index", "backend", "node", "path", "serial", "port")
    expected = [
        ("Cam\x1bA", 1, 700, None, target_path(0, "upper"), None, None),
        ("Cam B", 3, 700, None, target_path(1, "upper"), None, None),
    ]  # Wine knows no USB device behind them
    assert [tuple(getattr(c, field) for field in fields) for c in listed] == expected
    assert zorvekcam.count() == 2
    with zorvekcam.trace() as t:
        zorvekcam.list_devices()
    assert "Before index list is fill" in t.text
    out = command("--json")
    assert (out.returncode, out.stderr) == (0, "")
    assert [tuple(c[field] for field in fields) for c in json.loads(out.stdout)] == expected
    table = command()
    assert table.returncode == 0 and "Cam\\x1bA" in table.stdout and "\x1b" not in table.stdout
    assert command("--bogus").returncode == 2


def test_watch_polls_and_reports_a_device_plugged_then_unplugged_and_a_cancelled_awatch_leaves_no_thread(registry):
    registry(Device(target_path(0), "Cam A"))
    watcher = zorvekcam.watch(interval=0.2)
    events = [next(watcher)]
    added = registry(Device(target_path(1), "Cam B"), first=1)
    events.append(next(watcher))
    unplug(*added)
    events.append(next(watcher))
    watcher.close()
    assert [(e.kind, e.camera.name) for e in events] == [("present", "Cam A"), ("added", "Cam B"), ("removed", "Cam B")]
    # awatch, cancelled, leaves nothing behind.
    before = set(threading.enumerate())

    async def main():
        seen = []

        async def consume():
            async for event in zorvekcam.awatch(interval=0.2):
                seen.append(event.kind)

        task = asyncio.create_task(consume())
        await asyncio.sleep(0.6)
        task.cancel()
        with pytest.raises(asyncio.CancelledError):
            await task
        return seen

    assert asyncio.run(main()) == ["present"]
    assert set(threading.enumerate()) - before == set()


DEVENUM_SERVER = r"Software\Classes\CLSID\{62BE5D10-60EB-11D0-BD3B-00A0C911CE86}\InprocServer32"


def test_a_system_device_enumerator_that_cannot_be_created_is_an_enumeration_error(registry):
    registry(Device(target_path(0), "Cam A"))
    # The class's registration names a DLL that is not there, until the test puts it back; children
    # start afresh, with nothing of COM loaded.
    with winreg.OpenKey(winreg.HKEY_LOCAL_MACHINE, DEVENUM_SERVER, 0, winreg.KEY_ALL_ACCESS) as key:
        server = winreg.QueryValueEx(key, "")[0]
        winreg.SetValueEx(key, "", 0, winreg.REG_SZ, "zorvek-absent.dll")
        try:
            listing = spawn.run(
                [
                    sys.executable,
                    "-c",
                    "import zorvekcam\ntry:\n    zorvekcam.list_devices()\n"
                    "except zorvekcam.EnumerationError as e:\n    print(e.step, hex(e.hresult & 0xFFFFFFFF), "
                    "isinstance(e, OSError))",
                ],
                capture_output=True,
                text=True,
                timeout=120,
            )
            cli = command("--json")
        finally:
            winreg.SetValueEx(key, "", 0, winreg.REG_SZ, server)
    step, hresult, is_os_error = listing.stdout.split()
    assert (step, is_os_error) == ("CoCreateInstance(CLSID_SystemDeviceEnum)", "True"), listing
    assert (cli.returncode, cli.stdout) == (3, "")
    assert cli.stderr == f"zorvekcam: listing the video input devices failed: {step} returned {hresult}\n"
    assert [c.name for c in zorvekcam.list_devices()] == ["Cam A"]


class DebugEvent(ctypes.Structure):
    _fields_ = [
        ("code", wintypes.DWORD),
        ("process", wintypes.DWORD),
        ("thread", wintypes.DWORD),
        ("alignment", wintypes.DWORD),
        ("info", ctypes.c_ubyte * 160),
    ]


def debugged(code: str) -> tuple[list[str], bytes]:
    """The debugger lines of a child Python running `code`, as a debugger receives them (its
    output-debug-string events), and its standard output. The debugging thread is the one that
    starts the child (DEBUG_ONLY_THIS_PROCESS)."""
    kernel = ctypes.WinDLL("kernel32", use_last_error=True)
    kernel.WaitForDebugEvent.argtypes = [ctypes.POINTER(DebugEvent), wintypes.DWORD]
    kernel.ContinueDebugEvent.argtypes = [wintypes.DWORD] * 3
    kernel.ReadProcessMemory.argtypes = [
        wintypes.HANDLE,
        ctypes.c_void_p,
        ctypes.c_void_p,
        ctypes.c_size_t,
        ctypes.POINTER(ctypes.c_size_t),
    ]
    kernel.CloseHandle.argtypes = [wintypes.HANDLE]
    child = spawn.popen(
        [sys.executable, "-c", code], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, creationflags=0x2
    )
    lines, event = [], DebugEvent()
    while True:
        assert kernel.WaitForDebugEvent(ctypes.byref(event), 60000), ctypes.get_last_error()
        info = bytes(event.info)
        word = lambda at, size: int.from_bytes(info[at : at + size], "little")  # noqa: E731,B023  (called in this iteration)
        handled = 0x00010002  # DBG_CONTINUE
        if event.code == 1 and word(0, 4) != 0x80000003:  # an exception, not the loader's breakpoint
            handled = 0x80010001  # DBG_EXCEPTION_NOT_HANDLED: the child's own handlers see it
        elif event.code in (3, 6) and word(0, 8):  # process created, DLL loaded: their file handles
            kernel.CloseHandle(word(0, 8))
        elif event.code == 8:  # OUTPUT_DEBUG_STRING_EVENT: address, fUnicode, length with the terminator
            size = word(10, 2) * (2 if word(8, 2) else 1)
            text, read = ctypes.create_string_buffer(size), ctypes.c_size_t()
            assert kernel.ReadProcessMemory(int(child._handle), word(0, 8), text, size, ctypes.byref(read))
            lines.append(text.raw[: read.value].decode("utf-16-le" if word(8, 2) else "mbcs").rstrip("\0"))
        kernel.ContinueDebugEvent(event.process, event.thread, handled)
        if event.code == 5:  # the process exited
            break
    return lines, child.communicate(timeout=60)[0]


@needs_zorvek
def test_a_debugger_receives_the_debugger_lines_and_standard_output_the_trace(registry):
    devices = [
        Device(target_path(0), "Zorvek Cam 0"),
        Device(other_path(0), "Other"),
        Device(target_path(1), "Zorvek Cam 1"),
    ]
    registry(*devices)
    lines, out = debugged(
        "import Zorvek, zorvek_records\nprint(Zorvek.getDeviceListInfo(2, zorvek_records.DeviceInfo(2)))"
    )
    assert lines == [
        "Device index is : 0\n",
        "Device Name is : Zorvek Cam 0\n",
        "Device index is : 1\n",
        "Device Name is : Zorvek Cam 1\n",
    ]
    # The trace's newlines stay as written: the module shares the stream that Python put in binary
    # mode, where Python's own print (text mode) ends its line with CR LF.
    assert out.replace(b"True\r\n", b"") == scan_trace(devices).encode() * 2 and b"True\r\n" in out
