"""The package over scripted devices: what one listing gives, how it fails, and what it leaves alone."""

import asyncio
import errno
import inspect
import os
import pickle
import subprocess
from concurrent.futures import ThreadPoolExecutor

import pytest

from conftest import OTHER, TARGET_A, TARGET_B, child_env
from scripted import E_FAIL, Device, child_command, target_path

import zorvekcam
from zorvekcam import CAP_V4L2, Camera, EnumerationError


def camera(name, path, node, index, serial=None, port=None):
    return Camera(name, "2560", "C0D6", path.upper(), node, index, CAP_V4L2, serial, port)


def test_one_walk_lists_the_targets_among_others_with_what_opens_and_tells_them_apart(scripted_devices):
    windows_shaped = target_path(7)
    scripted_devices.attach(
        Device(OTHER, "Other"),
        Device(TARGET_A, "Cam A", serial="SN-A", port="1-2"),
        Device(OTHER, "Other"),
        Device(TARGET_B, "Cam B", port="1-3"),
        Device(windows_shaped, None),
    )
    cameras = zorvekcam.list_devices()
    assert scripted_devices.walks() == 1
    assert cameras == [
        camera("Cam A", TARGET_A, "/dev/video0", 1, "SN-A", "1-2"),
        camera("Cam B", TARGET_B, "/dev/video2", 3, None, "1-3"),
        camera("", windows_shaped, None, 4),  # no readable name; its path ends in no node
    ]
    assert zorvekcam.count() == 3 and scripted_devices.walks() == 2
    with pytest.raises(AttributeError):
        cameras[0].name = "renamed"
    assert hash(cameras[0]) == hash(camera("Cam A", TARGET_A, "/dev/video0", 1, "SN-A", "1-2"))


def test_forty_cameras_are_forty_entries_and_zorvek_still_answers_as_it_did(scripted_devices):
    scripted_devices.attach(*(Device(target_path(i), f"Cam {i}") for i in range(40)))
    cameras = zorvekcam.list_devices()
    assert [c.name for c in cameras] == [f"Cam {i}" for i in range(40)]
    assert zorvekcam.count() == 40
    with scripted_devices.capture():
        assert scripted_devices.Zorvek.getDeviceCount(0) is True
        records = scripted_devices.records.DeviceInfo(33)
        # Slots wrap in the 32-bit mask: Zorvek tells 32 apart, as it always has.
        assert scripted_devices.Zorvek.getDeviceListInfo(33, records) is False


def test_names_come_back_whole_where_the_records_keep_their_safe_cut(scripted_devices):
    names = ["x" * 200, "相机 カメラ 카메라", "Cam \U0001f4f7\U0001f600", "Caméra\u00a0№ 5"]
    scripted_devices.attach(*(Device(target_path(i), name) for i, name in enumerate(names)))
    assert [c.name for c in zorvekcam.list_devices()] == names
    records = scripted_devices.records.DeviceInfo(1)
    with scripted_devices.capture():
        assert scripted_devices.Zorvek.getDeviceInfo(0, records)
    assert records[0].bytes("friendlyName") == b"x" * 49


@pytest.mark.parametrize(
    "script, step",
    [
        ({"create_result": E_FAIL}, "CoCreateInstance(CLSID_SystemDeviceEnum)"),
        ({"category_result": E_FAIL}, "ICreateDevEnum::CreateClassEnumerator(CLSID_VideoInputDeviceCategory)"),
    ],
)
def test_a_failed_enumeration_raises_and_an_empty_machine_is_an_empty_list(scripted_devices, script, step):
    scripted_devices.attach(Device(TARGET_A, "Cam A"), **script)
    with pytest.raises(EnumerationError, match="returned 0x80004005") as raised:
        zorvekcam.list_devices()
    assert isinstance(raised.value, OSError) and (raised.value.step, raised.value.hresult) == (step, 0x80004005)
    scripted_devices.attach()
    assert zorvekcam.list_devices() == [] and zorvekcam.count() == 0
    scripted_devices.attach(Device(TARGET_A, "Cam A", bind_result=E_FAIL))
    with pytest.raises(EnumerationError, match="BindToStorage"):
        zorvekcam.list_devices()


def test_trace_collects_the_walk_of_the_listings_inside_it_and_nothing_reaches_standard_output(scripted_devices):
    scripted_devices.attach(Device(TARGET_A, "Cam A"))
    with scripted_devices.capture() as out:
        zorvekcam.list_devices()  # before: in no trace
        with zorvekcam.trace() as outer:
            with zorvekcam.trace() as inner:
                zorvekcam.list_devices()
            zorvekcam.count()
        zorvekcam.list_devices()  # after: in no trace
    assert out.text == ""
    walk = inner.text
    assert walk.startswith("Before While loopEntered a While loop") and walk.endswith("Before index list is fill")
    assert outer.text == walk * 2


def test_async_forms_give_what_the_plain_ones_do_while_the_loop_runs(scripted_devices):
    scripted_devices.attach(Device(OTHER, "Other"), Device(TARGET_A, "Cam A"))
    ticks = []

    async def main():
        async def ticker():
            while True:
                ticks.append(None)
                await asyncio.sleep(0)

        ticking = asyncio.create_task(ticker())
        found = await zorvekcam.alist_devices(), await zorvekcam.acount()
        ticking.cancel()
        return found

    assert asyncio.run(main()) == (zorvekcam.list_devices(), 1) and ticks


# The listing touches no file descriptor: a thread writing to standard output meanwhile loses no
# line, and no line of it lands in the trace. In a child, whose standard output is a pipe read after.
OTHER_THREAD_WRITES = """
import os, threading, zorvekcam
def write():
    for i in range(3000):
        print(f"print {i}", flush=True)
        os.write(1, f"write {i}\\n".encode())
writer = threading.Thread(target=write)
with zorvekcam.trace() as t:
    writer.start()
    while writer.is_alive():
        assert len(zorvekcam.list_devices()) == 1
writer.join()
assert "print" not in t.text and "write" not in t.text and t.text
"""


def test_another_threads_output_arrives_whole_while_cameras_are_listed():
    out = subprocess.run(
        child_command([Device(TARGET_A, "Cam A")], "-c", OTHER_THREAD_WRITES),
        capture_output=True,
        text=True,
        env=child_env(),
        timeout=120,
    )
    assert (out.returncode, out.stderr) == (0, "")
    assert sorted(out.stdout.splitlines()) == sorted(
        [f"print {i}" for i in range(3000)] + [f"write {i}" for i in range(3000)]
    )


def test_threads_listing_at_once_all_see_the_same_cameras(scripted_devices):
    # The walks run with the interpreter's lock released, so these really overlap.
    scripted_devices.attach(Device(OTHER, "Other"), Device(TARGET_A, "Cam A", serial="SN"), Device(TARGET_B, "Cam B"))
    expected = zorvekcam.list_devices()
    with ThreadPoolExecutor(8) as pool:
        listings = list(pool.map(lambda _: zorvekcam.list_devices(), range(800)))
    assert all(listing == expected for listing in listings)
    assert scripted_devices.walks() == 801


@pytest.mark.parametrize(
    "hresult, shown",
    [
        (-2147221164, "0x80040154"),  # as a signed HRESULT comes from Windows' own headers
        (0x80004005, "0x80004005"),
        (-1, "0xFFFFFFFF"),
        (1, "0x00000001"),
    ],
)
def test_an_hresult_is_shown_as_its_eight_unsigned_hex_digits(hresult, shown):
    error = EnumerationError("CoCreateInstance(CLSID_SystemDeviceEnum)", hresult)
    assert str(error) == (
        f"listing the video input devices failed: CoCreateInstance(CLSID_SystemDeviceEnum) returned {shown}"
    )
    assert (error.step, error.hresult, error.errno, error.strerror) == (
        "CoCreateInstance(CLSID_SystemDeviceEnum)",
        hresult,
        None,
        None,
    )
    copy = pickle.loads(pickle.dumps(error))
    assert (type(copy), copy.step, copy.hresult, str(copy)) == (EnumerationError, error.step, hresult, str(error))


def test_a_system_call_that_failed_is_told_by_its_call_and_errno_with_no_hresult():
    error = EnumerationError("opendir /sys/class/video4linux", errno=errno.EACCES)
    assert (error.step, error.hresult, error.errno, error.strerror) == (
        "opendir /sys/class/video4linux",
        None,
        errno.EACCES,
        os.strerror(errno.EACCES),
    )
    assert str(error) == (
        f"listing the video input devices failed: opendir /sys/class/video4linux: "
        f"{os.strerror(errno.EACCES)} (errno {errno.EACCES})"
    )
    copy = pickle.loads(pickle.dumps(error))
    assert (type(copy), copy.step, copy.hresult, copy.errno, str(copy)) == (
        EnumerationError,
        error.step,
        None,
        errno.EACCES,
        str(error),
    )
    # One of the two, never both or neither.
    for neither_or_both in ({}, {"hresult": 1, "errno": errno.EACCES}):
        with pytest.raises(TypeError):
            EnumerationError("X", **neither_or_both)


def test_a_failure_the_platform_gives_an_errno_reaches_the_caller_as_that_errno(scripted_devices):
    scripted_devices.attach(Device(TARGET_A, "Cam A"), category_result=E_FAIL, category_errno=errno.ENOTDIR)
    with pytest.raises(EnumerationError) as raised:
        zorvekcam.list_devices()
    assert (raised.value.step, raised.value.hresult, raised.value.errno, raised.value.strerror) == (
        "opendir /scripted/video4linux",
        None,
        errno.ENOTDIR,
        os.strerror(errno.ENOTDIR),
    )
    # The next failure, of another kind, carries nothing of it.
    scripted_devices.attach(Device(TARGET_A, "Cam A"), category_result=E_FAIL)
    with pytest.raises(EnumerationError) as raised:
        zorvekcam.list_devices()
    assert (raised.value.hresult, raised.value.errno) == (0x80004005, None)


def test_trace_is_a_documented_public_type_and_the_block_gives_one():
    assert "Trace" in str(inspect.signature(zorvekcam.trace)) and "_" not in str(inspect.signature(zorvekcam.trace))
    assert "text" in (zorvekcam.Trace.__doc__ or "") and zorvekcam.Trace.text.__doc__
    with zorvekcam.trace() as collected:
        pass
    assert type(collected) is zorvekcam.Trace and collected.text == ""
