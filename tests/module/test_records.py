"""The records module: arrays of zeroed records, indexing, and reading fields as text, as bytes and
as the raw record, whatever bytes a writer left in them."""

import gc
import locale
from functools import partial

import pytest

from scripted import Device, target_path

# A record image: a name with bytes after its terminator, IDs that fill their fields with no
# terminator at all, and a path that fills all 550 bytes.
IMAGE = b"Cam\0left over".ljust(50, b"\0") + b"ABCDE" + b"FGHIJ" + b"p" * 550


@pytest.fixture
def records(scripted_devices):
    return scripted_devices.records


@pytest.fixture
def set_ctype():
    """Sets the process's character-type locale; the test's end restores it."""
    saved = locale.setlocale(locale.LC_CTYPE)
    yield lambda name: locale.setlocale(locale.LC_CTYPE, name)
    locale.setlocale(locale.LC_CTYPE, saved)


def test_records_are_made_zeroed_in_the_number_asked_for(records):
    many = records.DeviceInfo(5)
    assert (len(records.DeviceInfo()), len(many), repr(many)) == (1, 5, "<zorvek_records.DeviceInfo: 5 records>")
    assert [r.raw for r in many] == [bytes(610)] * 5


@pytest.mark.parametrize(
    "count, error",
    [
        (0, ValueError),
        (-3, ValueError),
        (-(2**80), ValueError),
        (2**50, MemoryError),
        (2**80, MemoryError),
        (1.0, TypeError),
        ("2", TypeError),
    ],
)
def test_impossible_counts_raise(records, count, error):
    with pytest.raises(error):
        records.DeviceInfo(count)


def test_indexing_counts_from_either_end_and_stops_at_the_records_held(records, scripted_devices):
    scripted_devices.attach(Device(target_path(0), "A"), Device(target_path(1), "B"), Device(target_path(2), "C"))
    three = records.DeviceInfo(3)
    assert scripted_devices.Zorvek.getDeviceListInfo(3, three)
    assert [three[i].friendlyName for i in (0, 1, 2, -1, -2, -3)] == ["A", "B", "C", "C", "B", "A"]
    for outside in (3, -4, 2**80, -(2**80)):
        with pytest.raises(IndexError):
            three[outside]
    with pytest.raises(TypeError):
        three["0"]


def test_a_view_keeps_its_records_and_reads_fields_up_to_their_terminator_or_end(records, scripted_devices):
    owner = records.DeviceInfo(2)
    scripted_devices.probe().write_global(owner, IMAGE)
    view = owner[0]
    del owner
    gc.collect()
    assert view.raw == IMAGE
    assert [view.bytes(f) for f in ("friendlyName", "vid", "pid", "devicePath")] == [
        b"Cam",
        b"ABCDE",
        b"FGHIJ",
        b"p" * 550,
    ]
    assert (view.friendlyName, view.vid, view.pid, view.devicePath) == ("Cam", "ABCDE", "FGHIJ", "p" * 550)
    with pytest.raises(ValueError, match="no field 'name'"):
        view.bytes("name")


@pytest.mark.parametrize(
    "name, utf8_text, c_text",
    [
        (b"Kamera \xc3\xbc", "Kamera \u00fc", "Kamera \ufffd\ufffd"),
        (b"cut \xe2\x82", "cut \ufffd\ufffd", "cut \ufffd\ufffd"),
        (b"\xff\xfe odd", "\ufffd\ufffd odd", "\ufffd\ufffd odd"),
    ],
)
def test_text_is_decoded_in_the_current_locale_with_odd_bytes_replaced(
    records, scripted_devices, set_ctype, name, utf8_text, c_text
):
    one = records.DeviceInfo(1)
    scripted_devices.probe().write_global(one, name)
    set_ctype("C.UTF-8")
    assert one[0].friendlyName == utf8_text
    set_ctype("C")
    assert one[0].friendlyName == c_text
    assert one[0].bytes("friendlyName") == name


def test_a_record_written_by_the_module_reads_back_as_the_device_named_itself(records, scripted_devices, set_ctype):
    set_ctype("C.UTF-8")
    scripted_devices.attach(Device(target_path(0), "Kamera \u00fc \u20ac"))
    one = records.DeviceInfo()
    assert scripted_devices.Zorvek.getDeviceInfo(0, one)
    assert (one[0].friendlyName, one[0].bytes("friendlyName")) == (
        "Kamera \u00fc \u20ac",
        "Kamera \u00fc \u20ac".encode(),
    )


def test_methods_called_through_the_class_check_their_instance_and_a_bare_one_holds_no_record(records):
    for call in (
        partial(records.DeviceInfo.__len__, object()),
        partial(records.DeviceInfo.__repr__, object()),
        partial(records.DeviceInfo.__getitem__, object(), 0),
        records.Record,
    ):
        with pytest.raises(TypeError):
            call()
    bare = records.DeviceInfo.__new__(records.DeviceInfo)
    assert len(bare) == 0
    with pytest.raises(IndexError):
        bare[0]
