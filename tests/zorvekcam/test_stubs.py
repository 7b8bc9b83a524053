"""The type stubs of the two modules against the built modules: pybind11-stubgen's text, and
mypy's stubtest."""

import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

from conftest import ROOT, child_env
from scripted import missing_reason

# Both compare Zorvek's and the records' stubs too, and need the test group's tools (.venv).
pytestmark = pytest.mark.skipif(missing_reason() is not None, reason=str(missing_reason()))

STUBS = {module: ROOT / "python" / f"{module}-stubs" / "__init__.pyi" for module in ("Zorvek", "zorvek_records")}

# The companion first, so that Zorvek's signatures name its class rather than the bare C++ type.
GENERATE = "import sys, zorvek_records; from pybind11_stubgen import main; sys.argv[0] = 'pybind11-stubgen'; main()"


def test_stubs_are_what_pybind11_stubgen_makes_of_the_modules(tmp_path):
    subprocess.run(
        [sys.executable, "-c", GENERATE, "--exit-code", "-o", str(tmp_path), *STUBS],
        check=True,
        env=child_env(),
        capture_output=True,
        timeout=120,
    )
    # Where the generated text is wrong, the stubs mend it, and mend nothing else:
    # - the method Record.bytes hides the builtin type within the class, where "-> bytes" then names
    #   the method; the stub names builtins.bytes;
    # - Zorvek's functions take no keyword arguments (their parameters have no names): "/" says so;
    # - DeviceInfo iterates through __getitem__, which checkers do not follow: the stub adds __iter__.
    records = STUBS["zorvek_records"].read_text().replace("import builtins\n", "").replace("builtins.bytes", "bytes")
    records = re.sub(
        r"    def __iter__\(self\) -> typing.Iterator\[Record\]:\n        \"\"\"\n.*?\n        \"\"\"\n",
        "",
        records,
        count=1,
        flags=re.S,
    )
    assert records == (tmp_path / "zorvek_records.pyi").read_text()
    assert STUBS["Zorvek"].read_text().replace(", /)", ")") == (tmp_path / "Zorvek.pyi").read_text()


def test_stubs_match_the_modules_at_run_time(tmp_path):
    for module, stub in STUBS.items():
        shutil.copy(stub, tmp_path / f"{module}.pyi")
    allowlist = Path(__file__).with_name("stubtest_allowlist.txt")
    out = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "--allowlist", str(allowlist), *STUBS, "zorvekcam._core"],
        env=child_env() | {"MYPYPATH": str(tmp_path)},
        capture_output=True,
        text=True,
        timeout=300,
    )
    assert out.returncode == 0, out.stdout + out.stderr


# The records iterate at run time (through __getitem__, up to the IndexError past the last); the
# checker sees that only where the stub says so.
RECORDS_LOOP = """
import Zorvek, zorvek_records
from typing import assert_type

records = zorvek_records.DeviceInfo(2)
if Zorvek.getDeviceListInfo(2, records):
    for record in records:
        assert_type(record, zorvek_records.Record)
        print(record.friendlyName, record.vid, record.pid, record.devicePath)
assert_type(list(records), list[zorvek_records.Record])
"""


def test_a_loop_over_records_type_checks_as_it_runs(tmp_path, scripted_devices):
    for module, stub in STUBS.items():
        shutil.copy(stub, tmp_path / f"{module}.pyi")
    (tmp_path / "records_loop.py").write_text(RECORDS_LOOP)
    out = subprocess.run(
        [
            sys.executable,
            "-m",
            "mypy",
            "--strict",
            "--no-incremental",
            "--cache-dir",
            str(tmp_path / "cache"),
            str(tmp_path / "records_loop.py"),
        ],
        env=child_env() | {"MYPYPATH": str(tmp_path)},
        capture_output=True,
        text=True,
        timeout=300,
        cwd=tmp_path,
    )
    assert out.returncode == 0, out.stdout + out.stderr
    # And it runs: two zeroed records.
    with scripted_devices.capture():
        exec(
            compile(
                RECORDS_LOOP.replace("from typing import assert_type", "assert_type = lambda v, t: v"), "loop", "exec"
            ),
            {},
        )
