"""scripts/run.sh and what it stands on: the hash of the build's inputs that tells scripts/setup.sh
whether the package in .venv is up to date, and a run that builds nothing when nothing changed and
ends by saying how to run the command."""

import json
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]


@pytest.fixture
def tree(tmp_path):
    """A copy of the project's files as git knows them, with a hash function over it."""
    listed = subprocess.run(
        ["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
        cwd=ROOT,
        capture_output=True,
        check=False,
    )
    if listed.returncode:
        pytest.skip("not a git checkout")
    for name in listed.stdout.decode().split("\0"):
        if name and (ROOT / name).is_file():
            (tmp_path / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(ROOT / name, tmp_path / name)

    def inputs_hash():
        return subprocess.run(
            ["bash", str(tmp_path / "scripts/inputs_hash.sh"), sys.executable],
            capture_output=True,
            text=True,
            check=True,
        ).stdout.strip()

    return tmp_path, inputs_hash


def _write(path, text="changed\n"):
    path.parent.mkdir(parents=True, exist_ok=True)
    with open(path, "a") as file:
        file.write(text)


CHANGES_THAT_BUILD = {
    "a package file edited": lambda root: _write(root / "python/zorvekcam/_watch.py"),
    "a C++ source edited": lambda root: _write(root / "discovery/listing.cpp"),
    "the CMake project edited": lambda root: _write(root / "CMakeLists.txt", "# changed\n"),
    "the metadata edited": lambda root: _write(root / "pyproject.toml", "# changed\n"),
    "the description edited": lambda root: _write(root / "README.md"),
    "a source file added": lambda root: _write(root / "linux/new_source.cpp"),
    "a file renamed, its content kept": lambda root: (root / "linux/sysfs_source.cpp").rename(root / "linux/sysfs.cpp"),
    "a file removed": lambda root: (root / "python/zorvekcam/py.typed").unlink(),
}
CHANGES_THAT_DO_NOT = {
    "a test edited": lambda root: _write(root / "tests/smoke.py"),
    "a document added": lambda root: _write(root / "docs/new.md"),
    "a script edited": lambda root: _write(root / "scripts/test.sh"),
    "the build folder": lambda root: _write(root / "build/tests/CMakeCache.txt"),
    "the virtual environment": lambda root: _write(root / ".venv/zorvek-inputs"),
    "a bytecode cache": lambda root: _write(root / "python/zorvekcam/__pycache__/_watch.cpython-311.pyc"),
    "the lint's cache": lambda root: _write(root / ".ruff_cache/0.17.6/12345"),
}


@pytest.mark.parametrize("change", CHANGES_THAT_BUILD.values(), ids=CHANGES_THAT_BUILD.keys())
def test_a_change_to_the_build_inputs_changes_the_hash(tree, change):
    root, inputs_hash = tree
    before = inputs_hash()
    change(root)
    assert inputs_hash() != before


@pytest.mark.parametrize("change", CHANGES_THAT_DO_NOT.values(), ids=CHANGES_THAT_DO_NOT.keys())
def test_what_is_not_built_leaves_the_hash(tree, change):
    root, inputs_hash = tree
    before = inputs_hash()
    change(root)
    assert inputs_hash() == before


def test_setup_refuses_an_unknown_option():
    done = subprocess.run(
        ["bash", str(ROOT / "scripts/setup.sh"), "--everything"], capture_output=True, text=True, check=False
    )
    assert done.returncode == 2 and "usage: scripts/setup.sh" in done.stderr


@pytest.fixture(scope="module")
def venv():
    venv = ROOT / ".venv"
    if not (venv / "bin/zorvekcam").exists() or Path(sys.prefix).resolve() != venv.resolve():
        pytest.skip("the project's own .venv (scripts/setup.sh) runs these")
    return venv


def _installed(venv):
    """The modification times of the package as installed, and of the command."""
    package = Path(
        subprocess.run(
            [str(venv / "bin/python"), "-c", "import zorvekcam; print(zorvekcam.__file__)"],
            capture_output=True,
            text=True,
            check=True,
            cwd="/",
        ).stdout.strip()
    ).parent
    files = [*package.rglob("*"), venv / "bin/zorvekcam", venv / "zorvek-inputs"]
    return {str(path): path.stat().st_mtime_ns for path in files if path.is_file() and "__pycache__" not in path.parts}


def test_run_lists_as_json_and_says_how_to_run_the_command(venv):
    # The first run may build, where the sources changed since .venv was set up; the second must not.
    first = subprocess.run(
        ["bash", str(ROOT / "scripts/run.sh"), "--json"], capture_output=True, text=True, check=False
    )
    assert first.returncode == 0, first.stderr
    installed = _installed(venv)
    again = subprocess.run(
        ["bash", str(ROOT / "scripts/run.sh"), "--json"], capture_output=True, text=True, check=False
    )
    assert again.returncode == 0, again.stderr
    assert _installed(venv) == installed, "run.sh installed the package again although nothing changed"
    assert isinstance(json.loads(again.stdout), list)  # the closing words went to standard error
    assert f"{venv}/bin/zorvekcam" in again.stderr and f". {venv}/bin/activate" in again.stderr
    assert again.stderr.rstrip().endswith("python -m zorvekcam.")
