"""The package over scripted devices: what it lists and counts, and what becomes of the trace."""
import dataclasses
import subprocess
import sys

import pytest

from conftest import OTHER, TARGET_A, TARGET_B, package_env
from scripted import E_FAIL, Device, child_command, scan_trace, target_path

import zorvekcam
from zorvekcam import Camera

NOTHING_FOUND = "initialize is statredNotInitialized ErrorDevice is not connected"


def camera(name, path, node):
    return Camera(name=name, vid="2560", pid="C0D6", path=path.upper(), node=node)


def linux_node(node):
    """The node a camera is opened by, on the platform that has one."""
    return node if sys.platform.startswith("linux") else None


def names(cameras):
    return [c.name for c in cameras]


def test_lists_the_target_cameras_among_others_in_order(scripted_devices):
    windows_shaped = target_path(7)
    scripted_devices.attach(Device(OTHER, "Other"), Device(TARGET_A, "Cam A"), Device(OTHER, "Other"),
                            Device(TARGET_B, "Cam B"), Device(windows_shaped, "Cam C"))
    cameras = zorvekcam.list_devices()
    assert cameras == [
        camera("Cam A", TARGET_A, linux_node("/dev/video0")),
        camera("Cam B", TARGET_B, linux_node("/dev/video2")),
        camera("Cam C", windows_shaped, None),  # its path ends in no node
    ]
    assert zorvekcam.count() == 3
    with pytest.raises(dataclasses.FrozenInstanceError):
        cameras[0].name = "renamed"


def test_a_camera_without_a_readable_name_is_listed_with_an_empty_one(scripted_devices):
    scripted_devices.attach(Device(TARGET_A, None))
    assert zorvekcam.list_devices() == [camera("", TARGET_A, linux_node("/dev/video0"))]


def test_an_empty_machine_and_a_failed_enumerator_look_the_same(scripted_devices):
    scripted_devices.attach()
    with zorvekcam.trace() as empty:
        assert zorvekcam.list_devices() == []
        assert zorvekcam.count() == 0
    scripted_devices.attach(Device(TARGET_A, "Cam A"), create_result=E_FAIL)
    with zorvekcam.trace() as failed:
        assert zorvekcam.list_devices() == []
    assert empty.text == NOTHING_FOUND * 2
    assert failed.text == NOTHING_FOUND


def test_an_enumerator_failing_between_the_count_and_the_records_lists_nothing(scripted_devices):
    scripted_devices.attach(Device(TARGET_A, "Cam A"), create_result=E_FAIL, fail_from_walk=2)
    with zorvekcam.trace() as text:
        assert zorvekcam.list_devices() == []
    assert text.text.endswith("NotInitializedother issue" + NOTHING_FOUND)


def test_trace_holds_the_text_of_the_calls_inside_it_and_nests(scripted_devices):
    scripted_devices.attach(Device(TARGET_A, "Cam A"))
    scan = scan_trace([Device(TARGET_A)])
    zorvekcam.count()  # before: in no trace
    with zorvekcam.trace() as outer:
        zorvekcam.count()
        with zorvekcam.trace() as inner:
            zorvekcam.list_devices()  # the count's scan, then the record's
        assert outer.text == scan * 3
    zorvekcam.count()  # after: in no trace
    assert inner.text == scan * 2
    assert outer.text == scan * 3


def test_a_camera_unplugged_between_the_count_and_the_records_is_gone_on_the_second_try(scripted_devices):
    # Cam B is listed by the first walk only: counted, then missing when its record is read.
    scripted_devices.attach(Device(TARGET_A, "Cam A"), Device(TARGET_B, "Cam B", last_walk=0))
    with zorvekcam.trace() as text:
        assert names(zorvekcam.list_devices()) == ["Cam A"]
    assert text.text.count("other issue") == 1


def test_cameras_that_keep_changing_give_the_records_that_were_filled(scripted_devices):
    # Cam B is counted by both tries and gone from both record walks.
    scripted_devices.attach(Device(TARGET_A, "Cam A"), Device(TARGET_B, "Cam B", first_walk=0, last_walk=0),
                            Device(TARGET_B, "Cam B", first_walk=4, last_walk=4))
    with zorvekcam.trace() as text:
        assert names(zorvekcam.list_devices()) == ["Cam A"]
    assert text.text.count("other issue") == 2


def test_a_camera_plugged_in_between_the_count_and_the_records_waits_for_the_next_call(scripted_devices):
    scripted_devices.attach(Device(TARGET_A, "Cam A"), Device(TARGET_B, "Cam B", first_walk=1))
    assert names(zorvekcam.list_devices()) == ["Cam A"]
    assert names(zorvekcam.list_devices()) == ["Cam A", "Cam B"]


def test_nothing_of_the_trace_reaches_standard_output_and_its_order_is_kept():
    # In a child, so that standard output is a pipe (C stdio fully buffered) and is read only after
    # the process, and with it whatever stdio still held, has exited.
    code = ("import zorvekcam\n"
            "print('before', end='')\n"
            "assert len(zorvekcam.list_devices()) == 1\n"
            "print(' after')\n")
    out = subprocess.run(child_command([Device(TARGET_A, "Cam A")], "-c", code), capture_output=True,
                         text=True, env=package_env(), timeout=60)
    assert (out.returncode, out.stdout, out.stderr) == (0, "before after\n", "")
