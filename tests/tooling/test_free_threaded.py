"""Builds for a free-threaded CPython stop at once, saying why, without one being at hand: pip's build
through scikit-build-core with the interpreter's ABI flags stubbed, and CMake's own check with stub
interpreters that answer as a free-threaded one's sysconfig would."""

import importlib.util
import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
MESSAGE = "zorvek: free-threaded CPython is not supported yet"
CMAKE = shutil.which("cmake", path=os.path.dirname(sys.executable)) or shutil.which("cmake")

needs_backend = pytest.mark.skipif(
    importlib.util.find_spec("scikit_build_core") is None, reason="scikit-build-core (the test group) is not installed"
)
needs_cmake = pytest.mark.skipif(CMAKE is None, reason="CMake is not installed")


def backend(hook: str, abi_flags: str, out: Path) -> subprocess.CompletedProcess:
    """Calls the build backend's HOOK in this tree, for an interpreter whose ABI flags are ABI_FLAGS."""
    code = f"""
import sys
import scikit_build_core.settings.skbuild_overrides as overrides
overrides.get_abi_flags = lambda: {abi_flags!r}
from scikit_build_core import build
hook = getattr(build, {hook!r})
print("result:", hook() if {hook!r}.startswith("get_requires") else hook(sys.argv[1]))
"""
    return subprocess.run(
        [sys.executable, "-c", code, str(out)], cwd=ROOT, stdin=subprocess.DEVNULL, capture_output=True, text=True
    )


@needs_backend
@pytest.mark.parametrize("abi_flags", ["t", "td"])
@pytest.mark.parametrize("hook", ["prepare_metadata_for_build_wheel", "build_wheel", "build_editable"])
def test_a_free_threaded_build_from_the_sdist_stops_at_once(tmp_path, hook, abi_flags):
    done = backend(hook, abi_flags, tmp_path)
    assert done.returncode == 7, done.stdout + done.stderr
    assert MESSAGE in done.stdout
    assert list(tmp_path.iterdir()) == []  # nothing configured, nothing built


@needs_backend
@pytest.mark.parametrize(
    "hook, abi_flags, made",
    [
        ("get_requires_for_build_wheel", "t", None),  # no CMake fetched for a build that will not run
        ("build_sdist", "t", "zorvek-0.1.0.tar.gz"),  # an sdist is still made there
        ("prepare_metadata_for_build_wheel", "", "zorvek-0.1.0.dist-info"),  # interpreters with the GIL go on
        ("prepare_metadata_for_build_wheel", "d", "zorvek-0.1.0.dist-info"),
    ],
)
def test_what_goes_on(tmp_path, hook, abi_flags, made):
    done = backend(hook, abi_flags, tmp_path)
    assert done.returncode == 0 and MESSAGE not in done.stdout, done.stdout + done.stderr
    assert [p.name for p in tmp_path.iterdir()] == ([made] if made else [])
    if made is None:
        assert done.stdout == "result: []\n"


def stub_python(tmp_path: Path, answer: str, status: int = 0) -> Path:
    """An interpreter that answers every question with ANSWER and exits with STATUS."""
    stub = tmp_path / "python3"
    stub.write_text(f"#!/bin/sh\necho {answer}\nexit {status}\n")
    stub.chmod(0o755)
    return stub


@needs_cmake
@pytest.mark.parametrize(
    "answer, status, forced, refused",
    [
        ("1", 0, None, True),  # sysconfig's Py_GIL_DISABLED on a free-threaded build
        ("0", 0, None, False),  # on a build with the GIL since 3.13
        ("0", 1, None, False),  # an interpreter that fails is left to FindPython
        ("0", 0, "1", True),  # the forced answer stands for the interpreter's
        ("1", 0, "0", False),
    ],
)
def test_cmakes_check_asks_the_named_interpreter(tmp_path, answer, status, forced, refused):
    stub = stub_python(tmp_path, answer, status)
    force = [] if forced is None else [f"-DZORVEK_PYTHON_GIL_DISABLED={forced}"]
    done = subprocess.run(
        [CMAKE, f"-DPython_EXECUTABLE={stub}", *force, "-P", str(ROOT / "cmake" / "free_threaded.cmake")],
        capture_output=True,
        text=True,
    )
    said = " ".join(done.stderr.split())  # CMake wraps its messages
    assert (done.returncode != 0) == refused
    assert ("free-threaded CPython (built with Py_GIL_DISABLED) is not supported yet" in said) == refused
    assert (f"{stub} is one" in said) == refused


@needs_cmake
def test_configuring_the_project_stops_before_anything_else(tmp_path):
    stub = stub_python(tmp_path, "1")
    done = subprocess.run(
        [CMAKE, "-S", str(ROOT), "-B", str(tmp_path / "build"), f"-DPython_EXECUTABLE={stub}"],
        stdin=subprocess.DEVNULL,
        capture_output=True,
        text=True,
    )
    assert done.returncode != 0
    assert "free-threaded CPython (built with Py_GIL_DISABLED) is not supported yet" in " ".join(done.stderr.split())
    assert "compiler identification" not in done.stdout  # stopped before project() looked for a compiler
