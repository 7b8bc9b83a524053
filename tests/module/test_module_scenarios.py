"""The three functions from Python over scripted devices: results, records, and the exact trace of
each call; and that a list never reaches past the records the caller's instance holds."""
import subprocess

import pytest

from scripted import Device, child_command, child_env, other_path, scan_trace, target_path

UPPER = [target_path(i, "upper") for i in range(4)]


def cameras(targets: int) -> list[Device]:
    """`targets` target cameras, each after a camera of another model, and one more of those last."""
    devices = []
    for i in range(targets):
        devices += [Device(other_path(i), f"Other {i}"), Device(target_path(i), f"Zorvek Cam {i}")]
    return devices + [Device(other_path(targets), "Last other")]


def assert_written(record, i):
    assert (record.friendlyName, record.vid, record.pid, record.devicePath) == (f"Zorvek Cam {i}", "2560", "C0D6", UPPER[i])


def test_no_target_among_other_cameras(scripted_devices):
    scripted_devices.attach(*cameras(0))
    zorvek, records = scripted_devices.Zorvek, scripted_devices.records.DeviceInfo(2)
    scan = scripted_devices.scan_trace()
    assert scripted_devices.traced(zorvek.getDeviceCount, 0) == (False, scan + "Device is not connected")
    assert scripted_devices.traced(zorvek.getDeviceInfo, 0, records) == (
        False, scan + "Device is not connected" "InvalidDeviceIndex")
    assert scripted_devices.traced(zorvek.getDeviceListInfo, 2, records) == (
        False, scan + "Device is not connected" "InvalidDeviceIndex" "other issue")
    assert records[0].raw == records[1].raw == bytes(610)


def test_one_target_gives_its_record_and_no_other(scripted_devices):
    scripted_devices.attach(*cameras(1))
    zorvek, records = scripted_devices.Zorvek, scripted_devices.records.DeviceInfo(2)
    scan = scripted_devices.scan_trace()
    assert scan.count("Before index list is : 1\n") == 1
    assert scripted_devices.traced(zorvek.getDeviceCount, 0) == (True, scan)
    assert scripted_devices.traced(zorvek.getDeviceInfo, 0, records) == (True, scan)
    assert_written(records[0], 0)
    assert scripted_devices.traced(zorvek.getDeviceInfo, 1, records) == (False, scan + "InvalidDeviceIndex")
    assert_written(records[0], 0)
    assert records[1].raw == bytes(610)


@pytest.mark.parametrize("targets", [1, 2, 3])
def test_a_list_of_every_target_among_other_cameras(scripted_devices, targets):
    scripted_devices.attach(*cameras(targets))
    zorvek, records = scripted_devices.Zorvek, scripted_devices.records.DeviceInfo(targets)
    scan = scripted_devices.scan_trace()
    # A scan and a record walk per record; only the scans write.
    assert scripted_devices.traced(zorvek.getDeviceListInfo, targets, records) == (True, scan * targets)
    assert scripted_devices.walks() == 2 * targets
    for i in range(targets):
        assert_written(records[i], i)
    assert scripted_devices.traced(zorvek.getDeviceCount, 0) == (True, scan)


def test_a_count_above_the_attached_targets_fills_theirs_then_fails(scripted_devices):
    scripted_devices.attach(*cameras(2))
    zorvek, records = scripted_devices.Zorvek, scripted_devices.records.DeviceInfo(4)
    scan = scripted_devices.scan_trace()
    assert scripted_devices.traced(zorvek.getDeviceListInfo, 4, records) == (
        False, scan * 3 + "InvalidDeviceIndex" "other issue")
    assert_written(records[0], 0)
    assert_written(records[1], 1)
    assert records[2].raw == records[3].raw == bytes(610)


@pytest.mark.parametrize("count", [3, 4, 2**32 - 1])
def test_a_count_above_the_records_held_fills_those_then_fails_without_scanning_again(scripted_devices, count):
    scripted_devices.attach(*cameras(3))
    zorvek, records = scripted_devices.Zorvek, scripted_devices.records.DeviceInfo(2)
    scan = scripted_devices.scan_trace()
    assert scripted_devices.traced(zorvek.getDeviceListInfo, count, records) == (False, scan * 2 + "other issue")
    assert scripted_devices.walks() == 4
    assert_written(records[0], 0)
    assert_written(records[1], 1)


def test_a_count_below_the_records_held_fills_only_those(scripted_devices):
    scripted_devices.attach(*cameras(3))
    zorvek, records = scripted_devices.Zorvek, scripted_devices.records.DeviceInfo(3)
    assert scripted_devices.traced(zorvek.getDeviceListInfo, 0, records) == (True, "")
    assert scripted_devices.traced(zorvek.getDeviceListInfo, 1, records) == (True, scripted_devices.scan_trace())
    assert_written(records[0], 0)
    assert records[1].raw == records[2].raw == bytes(610)


def test_a_python_subclass_cannot_claim_more_records_than_it_holds(scripted_devices):
    class Claims(scripted_devices.records.DeviceInfo):
        def __len__(self):
            return 100

    scripted_devices.attach(*cameras(2))
    records = Claims(1)
    result, trace = scripted_devices.traced(scripted_devices.Zorvek.getDeviceListInfo, 2, records)
    assert (result, trace) == (False, scripted_devices.scan_trace() + "other issue")
    assert_written(scripted_devices.records.DeviceInfo.__getitem__(records, 0), 0)


def test_a_record_class_of_another_extension_holds_one_record(scripted_devices):
    probe = scripted_devices.probe()
    scripted_devices.attach(*cameras(2))
    zorvek, single = scripted_devices.Zorvek, probe.DeviceInfo()
    scan = scripted_devices.scan_trace()
    assert scripted_devices.traced(zorvek.getDeviceListInfo, 2, single) == (False, scan + "other issue")
    assert single.raw[60:60 + len(UPPER[0])] == UPPER[0].encode()
    assert scripted_devices.traced(zorvek.getDeviceInfo, 1, single) == (True, scan)
    assert single.raw[:13] == b"Zorvek Cam 1\0"
    assert scripted_devices.traced(zorvek.getDeviceListInfo, 1, single) == (True, scan)


CHILD = """
import Zorvek, zorvek_records
records = zorvek_records.DeviceInfo(2)
Zorvek.getDeviceCount(0)
Zorvek.getDeviceInfo(1, records)
Zorvek.getDeviceListInfo(3, records)
import sys
sys.stderr.write(records[0].friendlyName + "|" + records[1].friendlyName)
"""


def test_the_trace_reaches_stdout_when_the_process_ends():
    # Nothing flushes C stdio's buffer but the exit: all of the trace must come out, in order.
    devices = cameras(3)
    out = subprocess.run(child_command(devices, "-c", CHILD), env=child_env(), capture_output=True, check=True)
    scan = scan_trace(devices)
    assert out.stdout.decode() == scan * 4 + "other issue"
    assert out.stderr == b"Zorvek Cam 0|Zorvek Cam 1"
