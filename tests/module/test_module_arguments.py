"""How Python arguments reach the operations: what converts, what is refused before any device is
looked at, and that every accepted count value behaves alike."""
from decimal import Decimal

import pytest

from scripted import Device, other_path, target_path

COUNT_REFUSED = [-1, 1.5, 2**32, "3", None, [], Decimal(-1)]


def refused_without_scanning(devices, call):
    with devices.capture() as out:
        with pytest.raises(TypeError, match="incompatible function arguments"):
            call()
    assert out.text == ""
    assert devices.walks() == 0


@pytest.mark.parametrize("attached", [0, 1])
def test_every_accepted_count_value_behaves_alike(scripted_devices, attached):
    scripted_devices.attach(Device(other_path(0), "Other"), *[Device(target_path(i)) for i in range(attached)])
    zorvek = scripted_devices.Zorvek
    outcomes = {value: scripted_devices.traced(zorvek.getDeviceCount, value) for value in (0, 7, True, 2**32 - 1, Decimal(7))}
    expected = scripted_devices.scan_trace() + ("" if attached else "Device is not connected")
    assert set(outcomes.values()) == {(bool(attached), expected)}


@pytest.mark.parametrize("value", COUNT_REFUSED, ids=repr)
def test_counts_and_indexes_out_of_range_or_of_other_types_are_refused(scripted_devices, value):
    scripted_devices.attach(Device(target_path(0)))
    zorvek, records = scripted_devices.Zorvek, scripted_devices.records.DeviceInfo(2)
    refused_without_scanning(scripted_devices, lambda: zorvek.getDeviceCount(value))
    refused_without_scanning(scripted_devices, lambda: zorvek.getDeviceInfo(value, records))
    refused_without_scanning(scripted_devices, lambda: zorvek.getDeviceListInfo(value, records))
    assert records[0].raw == records[1].raw == bytes(610)


def test_keywords_and_missing_or_extra_arguments_are_refused(scripted_devices):
    scripted_devices.attach(Device(target_path(0)))
    zorvek, records = scripted_devices.Zorvek, scripted_devices.records.DeviceInfo()
    for call in (
        lambda: zorvek.getDeviceCount(arg0=0),
        lambda: zorvek.getDeviceCount(count=0),
        lambda: zorvek.getDeviceInfo(0, arg1=records),
        lambda: zorvek.getDeviceListInfo(arg0=1, arg1=records),
        lambda: zorvek.getDeviceCount(),
        lambda: zorvek.getDeviceInfo(0),
        lambda: zorvek.getDeviceListInfo(1, records, records),
    ):
        refused_without_scanning(scripted_devices, call)


def test_record_arguments_must_be_of_a_class_registered_for_the_record(scripted_devices):
    scripted_devices.attach(Device(target_path(0)))
    zorvek, records = scripted_devices.Zorvek, scripted_devices.records.DeviceInfo(1)
    for wrong in (object(), bytearray(610), records[0], 0):
        refused_without_scanning(scripted_devices, lambda: zorvek.getDeviceInfo(0, wrong))
        refused_without_scanning(scripted_devices, lambda: zorvek.getDeviceListInfo(1, wrong))


def test_none_is_a_null_record_that_the_operations_refuse_without_scanning(scripted_devices):
    scripted_devices.attach(Device(target_path(0)))
    zorvek = scripted_devices.Zorvek
    for call in (lambda: zorvek.getDeviceInfo(0, None), lambda: zorvek.getDeviceListInfo(3, None),
                 lambda: zorvek.getDeviceListInfo(0, None)):
        assert scripted_devices.traced(call) == (False, "")
    assert scripted_devices.walks() == 0
