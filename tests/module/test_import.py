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
        "import Zorvek\n"
        "print(sorted(vars(Zorvek)))\n"
        "print(Zorvek.__doc__, [type(f).__name__ for f in (Zorvek.getDeviceInfo, Zorvek.getDeviceCount, Zorvek.getDeviceListInfo)])"
    )
    assert out.stdout == f"{sorted(STANDARD + FUNCTIONS)}\nNone {['builtin_function_or_method'] * 3}\n"
    assert out.stderr == ""


def docstrings(record_class: str) -> str:
    return (
        f"getDeviceInfo(arg0: int, arg1: {record_class}) -> bool\n\ngetDeviceInfo\n"
        "|getDeviceCount(arg0: int) -> bool\n\ngetDeviceCount\n"
        f"|getDeviceListInfo(arg0: int, arg1: {record_class}) -> bool\n\ngetDeviceListInfo\n"
    )


PRINT_DOCS = "print(Zorvek.getDeviceInfo.__doc__, Zorvek.getDeviceCount.__doc__, Zorvek.getDeviceListInfo.__doc__, sep='|', end='')"


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
    assert run(f"{imports}\n{PRINT_DOCS}").stdout == docstrings(record_class)


REFUSED = """
import Zorvek
for call in (lambda: Zorvek.getDeviceInfo(0, None), lambda: Zorvek.getDeviceInfo(0, object()),
             lambda: Zorvek.getDeviceListInfo(1, None)):
    try:
        call()
        print("accepted")
    except TypeError as error:
        print(str(error).splitlines()[0])
"""


def test_record_arguments_are_refused_while_no_class_is_registered_for_the_record():
    out = run(REFUSED)
    assert out.stdout == (
        "getDeviceInfo(): incompatible function arguments. The following argument types are supported:\n" * 2
        + "getDeviceListInfo(): incompatible function arguments. The following argument types are supported:\n"
    )


def test_a_records_module_imported_after_zorvek_takes_effect_at_the_next_call():
    # None then converts to a null record, which the operations refuse without touching a device.
    out = run("import Zorvek, zorvek_records\nprint(Zorvek.getDeviceInfo(0, None), Zorvek.getDeviceListInfo(2, None))")
    assert out.stdout == "False False\n"
