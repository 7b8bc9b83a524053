"""scripts/format.sh over small trees of their own: its check passes on code in the project's style and
fails, naming the tool, on each kind of code it must refuse; applied, it leaves code that the check
passes, with the include order and the strings' bytes as they were."""

import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
RUFF = shutil.which("ruff", path=os.path.dirname(sys.executable)) or str(ROOT / ".venv" / "bin" / "ruff")
CLANG_FORMAT = shutil.which("clang-format-14")
pytestmark = pytest.mark.skipif(
    not os.access(RUFF, os.X_OK) or CLANG_FORMAT is None,
    reason="ruff (the test group) or clang-format-14 (scripts/setup.sh --test) is not installed",
)

# In the style: Windows' headers in the order they need (never sorted), a short function and a short
# if on one line, as the code has them.
GOOD_CPP = """\
#include <windows.h>
#include <dshow.h>

#include <string>

namespace {

class Counter {
public:
    int next() { return ++count_; }

private:
    int count_ = 0;
};

}  // namespace

const char* label(int k) {
    if (k < 0) return "negative\\x01 \\"quoted\\"";
    switch (k) {
        case 0: return "zero";
        default: break;
    }
    return "positive";
}
"""
GOOD_PY = '''\
"""A module in the style."""

import os


def joined(parts: list[str]) -> str:
    return os.sep.join(part for part in parts if part)
'''

BAD = {
    "python unformatted": ("tool.py", "def f( a,b ):\n    return {'a':a,'b':b}\n", "ruff format"),
    "python lint": ("tool.py", "import os\nimport sys\n\n\nprint(sys.argv)\n", "ruff check (lint)"),
    "python lint, unused name": ("tool.py", "def f():\n    unused = 1\n    return 2\n", "ruff check (lint)"),
    "c++ unformatted": ("source.cpp", "int   f( int a ){\n  return a+1 ;}\n", "clang-format"),
    "c++ header over 120 columns": (
        "source.h",
        "int f(int first, int second, int third, int fourth, int fifth, "
        "int sixth, int seventh, int eighth, int ninth, int tenth, int eleventh);\n",
        "clang-format",
    ),
}


def tree(tmp_path: Path, files: dict[str, str]) -> Path:
    """A git work tree with the project's style configuration, its format script, and FILES."""
    (tmp_path / "scripts").mkdir()
    shutil.copy(ROOT / "scripts" / "format.sh", tmp_path / "scripts" / "format.sh")
    for config in ("pyproject.toml", ".clang-format"):
        shutil.copy(ROOT / config, tmp_path / config)
    (tmp_path / ".gitignore").write_text("/build/\n")
    for name, text in files.items():
        (tmp_path / name).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / name).write_text(text)
    subprocess.run(["git", "init", "-q", str(tmp_path)], check=True)
    return tmp_path


def format_sh(root: Path, *arguments: str) -> subprocess.CompletedProcess:
    env = dict(os.environ, ZORVEK_RUFF=RUFF, ZORVEK_CLANG_FORMAT=CLANG_FORMAT)
    return subprocess.run(
        ["bash", str(root / "scripts" / "format.sh"), *arguments],
        cwd=root,
        env=env,
        stdin=subprocess.DEVNULL,
        capture_output=True,
        text=True,
    )


def test_the_check_passes_code_in_the_style_and_what_git_ignores(tmp_path):
    root = tree(
        tmp_path,
        {
            "source.cpp": GOOD_CPP,
            "tool.py": GOOD_PY,
            "build/generated.cpp": BAD["c++ unformatted"][1],
            "build/generated.py": BAD["python lint"][1],
        },
    )
    done = format_sh(root, "--check")
    assert done.returncode == 0, done.stdout + done.stderr
    assert "2 Python files" not in done.stdout and "1 Python files" in done.stdout
    assert "1 C++ files formatted (version 14." in done.stdout


@pytest.mark.parametrize("case", BAD)
def test_the_check_fails_naming_the_tool_and_changes_nothing(tmp_path, case):
    name, text, tool = BAD[case]
    root = tree(tmp_path, {"source.cpp": GOOD_CPP, "tool.py": GOOD_PY, name: text})
    done = format_sh(root, "--check")
    assert done.returncode == 1
    assert f"format: {tool} found code to change" in done.stderr
    assert (root / name).read_text() == text


@pytest.mark.parametrize("case", [case for case in BAD if "lint" not in case])
def test_applied_it_leaves_what_the_check_passes(tmp_path, case):
    name, text, _ = BAD[case]
    root = tree(tmp_path, {name: text})
    done = format_sh(root)
    assert done.returncode == 0, done.stdout + done.stderr
    assert (root / name).read_text() != text
    done = format_sh(root, "--check")
    assert done.returncode == 0, done.stdout + done.stderr


def test_applied_it_keeps_the_include_order_and_the_bytes_of_strings(tmp_path):
    squeezed = GOOD_CPP.replace("    int next() { return ++count_; }", "    int next()\n    {\n  return ++count_; }")
    root = tree(tmp_path, {"source.cpp": squeezed})
    assert format_sh(root).returncode == 0
    assert (root / "source.cpp").read_text() == GOOD_CPP


def test_an_unknown_option_is_refused(tmp_path):
    done = format_sh(tree(tmp_path, {}), "--fix")
    assert done.returncode == 2 and "usage: scripts/format.sh [--check]" in done.stderr
