"""Initialisation checks the running interpreter: a module built for 3.11, loaded by another version
(here by renaming the file so that its suffix no longer keeps other versions away), refuses to load."""
import ast
import glob
import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

IMPORT = """
import sys
try:
    import Zorvek
    print("imported", sorted(n for n in vars(Zorvek) if not n.startswith("__")))
except ImportError as error:
    print(repr(str(error)))
    print(repr(sys.version))
"""


def shipped_module() -> Path:
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    out = subprocess.run([sys.executable, "-c", "import Zorvek; print(Zorvek.__file__)"],
                         capture_output=True, text=True, env=env, check=True)
    return Path(out.stdout.strip())


def python312() -> str | None:
    candidates = [os.environ.get("ZORVEK_PYTHON312", "")]
    candidates += sorted(glob.glob(os.path.expanduser("~/.pyenv/versions/3.12*/bin/python3.12")))
    candidates += [shutil.which("python3.12") or ""]
    for candidate in filter(None, candidates):
        check = subprocess.run([candidate, "-c", "import sys; print(sys.version_info[:2] == (3, 12))"],
                               capture_output=True, text=True)
        if check.stdout.strip() == "True":
            return candidate
    return None


def import_renamed(python: str, folder: Path) -> list[str]:
    shutil.copy(shipped_module(), folder / "Zorvek.so")
    out = subprocess.run([python, "-c", IMPORT], capture_output=True, text=True, cwd=folder,
                         env={k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "LD_PRELOAD")})
    return out.stdout.splitlines()


def test_python_312_refuses_the_module_with_the_mismatch_error(tmp_path):
    python = python312()
    if python is None:
        pytest.skip("no Python 3.12 interpreter here (set ZORVEK_PYTHON312 to one)")
    message, version = import_renamed(python, tmp_path)
    version = ast.literal_eval(version)
    assert version.startswith("3.12")
    assert ast.literal_eval(message) == (
        "Python version mismatch: module was compiled for Python 3.11, "
        f"but the interpreter version is incompatible: {version}."
    )


def test_the_renamed_module_loads_under_python_311(tmp_path):
    assert import_renamed(sys.executable, tmp_path) == [
        "imported ['getDeviceCount', 'getDeviceInfo', 'getDeviceListInfo']"
    ]
