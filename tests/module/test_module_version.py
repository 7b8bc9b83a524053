"""Initialisation checks the running interpreter: a module built for 3.11, loaded by another version
(here by renaming the file so that its suffix no longer keeps other versions away), refuses to load."""

import glob
import os
import shutil
import subprocess
import sys

import pytest


def python312() -> str | None:
    candidates = [os.environ.get("ZORVEK_PYTHON312", ""), shutil.which("python3.12") or ""]
    candidates[1:1] = sorted(glob.glob(os.path.expanduser("~/.pyenv/versions/3.12*/bin/python3.12")))
    return next(
        (
            c
            for c in filter(None, candidates)
            if subprocess.run(
                [c, "-c", "import sys; sys.exit(sys.version_info[:2] != (3, 12))"], capture_output=True
            ).returncode
            == 0
        ),
        None,
    )


def test_python_312_refuses_the_module_with_the_mismatch_error(tmp_path):
    python = python312()
    if python is None:
        pytest.skip("no Python 3.12 interpreter here (set ZORVEK_PYTHON312 to one)")
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "LD_PRELOAD")}
    shipped = subprocess.run(
        [sys.executable, "-c", "import Zorvek; print(Zorvek.__file__)"],
        capture_output=True,
        text=True,
        env=env,
        check=True,
    ).stdout.strip()
    shutil.copy(shipped, tmp_path / "Zorvek.so")
    out = subprocess.run(
        [python, "-c", "import sys; print(sys.version); import Zorvek"],
        capture_output=True,
        text=True,
        cwd=tmp_path,
        env=env,
    )
    version = out.stdout.removesuffix("\n")
    assert version.startswith("3.12")
    assert out.stderr.endswith(
        "ImportError: Python version mismatch: module was compiled for Python 3.11, but the "
        f"interpreter version is incompatible: {version}.\n"
    )
