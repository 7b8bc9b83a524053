"""The shipped modules as installed: what Zorvek exposes, its docstrings, and that importing it does
no device work. Each case runs in a fresh interpreter, since which class is registered for the record
type depends on what was imported before."""

import os
import subprocess
import sys

import pytest

STANDARD = ["__doc__", "__file__", "__loader__", "__name__", "__package__", "__spec__"]
FUNCTIONS = ["getDeviceCount", "getDeviceInfo", "getDeviceListInfo"]


def run(code: str) -> subprocess.CompletedProcess:
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env, check=True)


def test_import_prints_nothing_and_exposes_the_three_functions_only():
    out = run(
        f"import Zorvek\nprint(sorted(vars(Zorvek)))\nprint(Zorvek.__doc__, [type(getattr(Zorvek, f)).__name__ for f in {FUNCTIONS}])"
    )
    assert (out.stdout, out.stderr) == (
        f"{sorted(STANDARD + FUNCTIONS)}\nNone {['builtin_function_or_method'] * 3}\n",
        "",
    )


@pytest.mark.parametrize(
    "imports, record_class",
    [
        ("import Zorvek", "DeviceInfo"),
        # The class name is filled in when the functions are defined, at import.
        ("import zorvek_records, Zorvek", "zorvek_records.DeviceInfo"),
        ("import Zorvek, zorvek_records", "DeviceInfo"),
    ],
)
def test_docstrings_are_the_signature_an_empty_line_and_the_name(imports, record_class):
    out = run(f"{imports}\nprint(*(getattr(Zorvek, f).__doc__ for f in {FUNCTIONS}), sep='|', end='')")
    assert out.stdout == (
        "getDeviceCount(arg0: int) -> bool\n\ngetDeviceCount\n"
        f"|getDeviceInfo(arg0: int, arg1: {record_class}) -> bool\n\ngetDeviceInfo\n"
        f"|getDeviceListInfo(arg0: int, arg1: {record_class}) -> bool\n\ngetDeviceListInfo\n"
    )


# None then converts to a null record, which the operations refuse without touching a device.
REFUSED_UNTIL_RECORDS = """
import Zorvek
for call in (lambda: Zorvek.getDeviceInfo(0, None), lambda: Zorvek.getDeviceInfo(0, object()),
             lambda: Zorvek.getDeviceListInfo(1, None)):
    try:
        call()
        print("accepted")
    except TypeError as error:
        print(str(error).splitlines()[0])
import zorvek_records
print(Zorvek.getDeviceInfo(0, None), Zorvek.getDeviceListInfo(2, None))
"""


def test_record_arguments_are_refused_until_a_records_module_registers_a_class_for_the_record():
    assert run(REFUSED_UNTIL_RECORDS).stdout == (
        "getDeviceInfo(): incompatible function arguments. The following argument types are supported:\n" * 2
        + "getDeviceListInfo(): incompatible function arguments. The following argument types are supported:\n"
        + "False False\n"
    )
