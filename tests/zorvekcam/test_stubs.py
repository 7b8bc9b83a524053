"""The type stubs of the two modules against the built modules: pybind11-stubgen's text, and
mypy's stubtest."""
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
    subprocess.run([sys.executable, "-c", GENERATE, "--exit-code", "-o", str(tmp_path), *STUBS],
                   check=True, env=child_env(), capture_output=True, timeout=120)
    # Where the generated text is wrong, the stubs mend it, and mend nothing else:
    # - the method Record.bytes hides the builtin type within the class, where "-> bytes" then names
    #   the method; the stub names builtins.bytes;
    # - Zorvek's functions take no keyword arguments (their parameters have no names): "/" says so.
    records = STUBS["zorvek_records"].read_text().replace("import builtins\n", "").replace("builtins.bytes", "bytes")
    assert records == (tmp_path / "zorvek_records.pyi").read_text()
    assert STUBS["Zorvek"].read_text().replace(", /)", ")") == (tmp_path / "Zorvek.pyi").read_text()


def test_stubs_match_the_modules_at_run_time(tmp_path):
    for module, stub in STUBS.items():
        shutil.copy(stub, tmp_path / f"{module}.pyi")
    allowlist = Path(__file__).with_name("stubtest_allowlist.txt")
    out = subprocess.run([sys.executable, "-m", "mypy.stubtest", "--allowlist", str(allowlist), *STUBS, "zorvekcam._core"],
                         env=child_env() | {"MYPYPATH": str(tmp_path)}, capture_output=True, text=True, timeout=300)
    assert out.returncode == 0, out.stdout + out.stderr
