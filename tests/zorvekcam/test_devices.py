"""The package over scripted devices: what it lists and counts, and what becomes of the trace."""
import dataclasses
import subprocess
import sys

import pytest

from cam_devices import (E_FAIL, OTHER, TARGET_A, TARGET_B, WINDOWS_TARGET, Device, as_json,
                         child_environment, script, HERE)
import zorvekcam
from zorvekcam import Camera

ONE_MATCH_SCAN = (
    "initialize is statredBefore While loopEntered a While loop While loop hr successed"
    " While loop hr S_OK successed While loop hr devicePath != NULL successed"
    " While loop hr wcsncpy_s(extrctd_vid, vid_substr + 4, 4) successed"
    "While loop - pid_substr != NULL - wcsncpy_s(extrctd_pid, pid_substr + 4, 4);"
    "Before index list is fillBefore index list is : 1\n"
)
NOTHING_FOUND = "initialize is statredNotInitialized ErrorDevice is not connected"


def camera(name, path, node):
    return Camera(name=name, vid="2560", pid="C0D6", path=path.upper(), node=node)


def linux_node(node):
    """The node a camera is opened by, on the platform that has one."""
    return node if sys.platform.startswith("linux") else None


def test_lists_the_target_cameras_among_others_in_order():
    script([Device(OTHER, "Other"), Device(TARGET_A, "Cam A"), Device(OTHER, "Other"),
            Device(TARGET_B, "Cam B"), Device(WINDOWS_TARGET, "Cam C")])
    cameras = zorvekcam.list_devices()
    assert cameras == [
        camera("Cam A", TARGET_A, linux_node("/dev/video0")),
        camera("Cam B", TARGET_B, linux_node("/dev/video2")),
        camera("Cam C", WINDOWS_TARGET, None),  # no node at the end of its path
    ]
    assert zorvekcam.count() == 3
    with pytest.raises(dataclasses.FrozenInstanceError):
        cameras[0].name = "renamed"  # type: ignore[misc]


def test_a_camera_without_a_readable_name_is_listed_with_an_empty_one():
    script([Device(TARGET_A, None)])
    assert zorvekcam.list_devices() == [camera("", TARGET_A, linux_node("/dev/video0"))]


def test_an_empty_machine_and_a_failed_enumerator_look_the_same():
    script([])
    with zorvekcam.trace() as empty:
        assert zorvekcam.list_devices() == []
        assert zorvekcam.count() == 0
    script([Device(TARGET_A, "Cam A")], create_result=E_FAIL)
    with zorvekcam.trace() as failed:
        assert zorvekcam.list_devices() == []
    assert empty.text == NOTHING_FOUND * 2
    assert failed.text == NOTHING_FOUND


def test_trace_holds_the_text_of_the_calls_inside_it_and_nests():
    script([Device(TARGET_A, "Cam A")])
    zorvekcam.count()  # before: in no trace
    with zorvekcam.trace() as outer:
        zorvekcam.count()
        with zorvekcam.trace() as inner:
            zorvekcam.list_devices()  # the count's scan, then the record's scan
        assert outer.text == ONE_MATCH_SCAN * 3
    zorvekcam.count()  # after: in no trace
    assert inner.text == ONE_MATCH_SCAN * 2
    assert outer.text == ONE_MATCH_SCAN * 3


def test_a_camera_unplugged_between_the_count_and_the_records_is_gone_on_the_second_try():
    # Cam B is listed in the first walk only: counted, then missing when its record is read.
    script([Device(TARGET_A, "Cam A"), Device(TARGET_B, "Cam B", last_walk=0)])
    with zorvekcam.trace() as text:
        cameras = zorvekcam.list_devices()
    assert [c.name for c in cameras] == ["Cam A"]
    assert text.text.count("other issue") == 1


def test_cameras_that_keep_changing_give_the_records_that_were_filled():
    # Cam B is counted by both tries and gone from both record walks.
    script([Device(TARGET_A, "Cam A"), Device(TARGET_B, "Cam B", 0, 0), Device(TARGET_B, "Cam B", 4, 4)])
    with zorvekcam.trace() as text:
        cameras = zorvekcam.list_devices()
    assert [c.name for c in cameras] == ["Cam A"]
    assert text.text.count("other issue") == 2


def test_a_camera_plugged_in_between_the_count_and_the_records_waits_for_the_next_call():
    script([Device(TARGET_A, "Cam A"), Device(TARGET_B, "Cam B", first_walk=1)])
    assert [c.name for c in zorvekcam.list_devices()] == ["Cam A"]
    assert [c.name for c in zorvekcam.list_devices()] == ["Cam A", "Cam B"]


def test_nothing_of_the_trace_reaches_standard_output_and_its_order_is_kept():
    # In a child, so that standard output is a pipe (C stdio fully buffered) and is read only after
    # the process, and with it whatever stdio still held, has exited.
    code = ("import zorvekcam\n"
            "print('before', end='')\n"
            "assert len(zorvekcam.list_devices()) == 1\n"
            "print(' after')\n")
    out = subprocess.run([sys.executable, str(HERE / "cam_child.py"), as_json([Device(TARGET_A, "Cam A")]),
                          "-c", code], capture_output=True, text=True, env=child_environment(), timeout=60)
    assert (out.returncode, out.stdout, out.stderr) == (0, "before after\n", "")
