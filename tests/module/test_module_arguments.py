"""How Python arguments reach the operations: what converts, what is refused before any device is
looked at, and that every accepted count value behaves alike."""

from decimal import Decimal
from functools import partial

import pytest

from scripted import Device, other_path, target_path


@pytest.mark.parametrize("attached", [0, 1])
def test_every_accepted_count_value_behaves_alike(scripted_devices, attached):
    scripted_devices.attach(Device(other_path(0), "Other"), *[Device(target_path(i)) for i in range(attached)])
    zorvek = scripted_devices.Zorvek
    outcomes = {
        value: scripted_devices.traced(zorvek.getDeviceCount, value) for value in (0, 7, True, 2**32 - 1, Decimal(7))
    }
    expected = scripted_devices.scan_trace() + ("" if attached else "Device is not connected")
    assert set(outcomes.values()) == {(bool(attached), expected)}


def test_arguments_out_of_range_of_other_types_or_shapes_are_refused_before_any_scan(scripted_devices):
    scripted_devices.attach(Device(target_path(0)))
    zorvek, records = scripted_devices.Zorvek, scripted_devices.records.DeviceInfo(2)
    info, listing = zorvek.getDeviceInfo, zorvek.getDeviceListInfo
    calls = []
    for value in (-1, 1.5, 2**32, "3", None, [], Decimal(-1)):
        calls += [
            partial(zorvek.getDeviceCount, value),
            partial(info, value, records),
            partial(listing, value, records),
        ]
    # Records of a class not registered for the record (records[0] is a view of one).
    for wrong in (object(), bytearray(610), records[0], 0):
        calls += [partial(info, 0, wrong), partial(listing, 1, wrong)]
    calls += [
        partial(zorvek.getDeviceCount, arg0=0),
        partial(zorvek.getDeviceCount, count=0),
        partial(info, 0, arg1=records),
        partial(listing, arg0=1, arg1=records),
        zorvek.getDeviceCount,
        partial(info, 0),
        partial(listing, 1, records, records),
    ]
    for call in calls:
        with scripted_devices.capture() as out, pytest.raises(TypeError, match="incompatible function arguments"):
            call()
        assert out.text == "" and scripted_devices.walks() == 0, call
    assert records[0].raw == records[1].raw == bytes(610)


def test_none_is_a_null_record_that_the_operations_refuse_without_scanning(scripted_devices):
    scripted_devices.attach(Device(target_path(0)))
    zorvek = scripted_devices.Zorvek
    for call in (
        partial(zorvek.getDeviceInfo, 0, None),
        partial(zorvek.getDeviceListInfo, 3, None),
        partial(zorvek.getDeviceListInfo, 0, None),
    ):
        assert scripted_devices.traced(call) == (False, "")
    assert scripted_devices.walks() == 0
