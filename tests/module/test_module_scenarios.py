"""The three functions from Python over scripted devices: results, records, walks and the exact trace
of each call; and that a list never reaches past the records the caller's instance holds."""

import subprocess

import pytest

from scripted import Device, child_command, child_env, other_path, scan_trace, target_path

UPPER = [target_path(i, "upper") for i in range(4)]
# What the first record holds before a call: a call that fails, or writes other records, leaves it so.
PATTERN = b"\xa5" * 610


def cameras(targets: int) -> list[Device]:
    """`targets` target cameras, each after a camera of another model, and one more of those last."""
    devices = []
    for i in range(targets):
        devices += [Device(other_path(i), f"Other {i}"), Device(target_path(i), f"Zorvek Cam {i}")]
    return devices + [Device(other_path(targets), "Last other")]


def assert_written(record, i):
    assert (record.friendlyName, record.vid, record.pid, record.devicePath) == (
        f"Zorvek Cam {i}",
        "2560",
        "C0D6",
        UPPER[i],
    )


# (targets attached, function, its count or index, records held) ->
#     (result, scans in the trace, what the trace has after them, walks, records written from the first)
CALLS = {
    "no target: count": ((0, "getDeviceCount", 0, 1), (False, 1, "Device is not connected", 1, 0)),
    "no target: info": ((0, "getDeviceInfo", 0, 2), (False, 1, "Device is not connectedInvalidDeviceIndex", 1, 0)),
    "no target: list": (
        (0, "getDeviceListInfo", 2, 2),
        (False, 1, "Device is not connectedInvalidDeviceIndexother issue", 1, 0),
    ),
    "one target: count": ((1, "getDeviceCount", 0, 1), (True, 1, "", 1, 0)),
    # A scan, then a record walk that writes the record; only the scans write to the trace.
    "one target: its record": ((1, "getDeviceInfo", 0, 2), (True, 1, "", 2, 1)),
    "one target: no second record": ((1, "getDeviceInfo", 1, 2), (False, 1, "InvalidDeviceIndex", 1, 0)),
    **{f"a list of all {n}": ((n, "getDeviceListInfo", n, n), (True, n, "", 2 * n, n)) for n in (1, 2, 3)},
    "a count above the attached targets fills theirs, then fails": (
        (2, "getDeviceListInfo", 4, 4),
        (False, 3, "InvalidDeviceIndexother issue", 5, 2),
    ),
    # ...and one above the records held fills those, then fails without scanning again.
    **{
        f"a count of {n} over 2 records held": ((3, "getDeviceListInfo", n, 2), (False, 2, "other issue", 4, 2))
        for n in (3, 4, 2**32 - 1)
    },
    "a count of 0 fills none": ((3, "getDeviceListInfo", 0, 3), (True, 0, "", 0, 0)),
    "a count below the records held fills only those": ((3, "getDeviceListInfo", 1, 3), (True, 1, "", 2, 1)),
}


@pytest.mark.parametrize("name", CALLS)
def test_one_call(scripted_devices, name):
    (targets, function, value, held), (result, scans, after, walks, written) = CALLS[name]
    scripted_devices.attach(*cameras(targets))
    records = scripted_devices.records.DeviceInfo(held)
    scripted_devices.probe().write_global(records, PATTERN)
    arguments = (value,) if function == "getDeviceCount" else (value, records)
    call = getattr(scripted_devices.Zorvek, function)
    assert scripted_devices.traced(call, *arguments) == (result, scripted_devices.scan_trace() * scans + after)
    assert scripted_devices.walks() == walks
    for i in range(written):
        assert_written(records[i], i)
    assert [r.raw for r in list(records)[written:]] == ([PATTERN] + [bytes(610)] * (held - 1))[written:]


def test_a_python_subclass_cannot_claim_more_records_than_it_holds(scripted_devices):
    class Claims(scripted_devices.records.DeviceInfo):
        def __len__(self):
            return 100

    scripted_devices.attach(*cameras(2))
    records = Claims(1)
    assert scripted_devices.traced(scripted_devices.Zorvek.getDeviceListInfo, 2, records) == (
        False,
        scripted_devices.scan_trace() + "other issue",
    )
    assert_written(scripted_devices.records.DeviceInfo.__getitem__(records, 0), 0)


def test_a_record_class_of_another_extension_holds_one_record(scripted_devices):
    probe = scripted_devices.probe()
    scripted_devices.attach(*cameras(2))
    zorvek, single = scripted_devices.Zorvek, probe.DeviceInfo()
    scan = scripted_devices.scan_trace()
    assert scripted_devices.traced(zorvek.getDeviceListInfo, 2, single) == (False, scan + "other issue")
    assert single.raw[60 : 60 + len(UPPER[0])] == UPPER[0].encode()
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
