"""The Python blocks of README.md and docs/*.md, as a reader copies them: every block is type-checked
with mypy --strict against the installed package and its stubs, and those marked to run
(`<!-- doc-block: runs -->` on the line before the fence) run in a fresh interpreter with the
installed package, from an empty folder, and must end with status 0 on a machine without a camera.
Any other block is type-checked only: it needs a camera, or waits for one; the README's blocks say so
with `<!-- doc-block: type-checks (why) -->`.
Blocks fenced as anything but python (sh, the command's output) are not Python and are left alone.
"""

import os
import re
import subprocess
import sys
from dataclasses import dataclass
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
DOCUMENTS = [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]
MARKER = re.compile(r"<!-- doc-block: (runs|type-checks)\b[^>]*-->")
# The documents name OpenCV's module, which the package does not need and the tests do not install.
MYPY_CONFIG = "[mypy]\n[mypy-cv2.*]\nignore_missing_imports = True\n"


@dataclass
class Block:
    document: Path
    line: int  # of the fence
    code: str
    marker: str | None

    @property
    def name(self):
        return f"{self.document.relative_to(ROOT)}:{self.line}"

    @property
    def module(self):
        return re.sub(r"\W", "_", self.name)


def blocks_of(path):
    """The ```python blocks of one Markdown document, with the marker on the line before each."""
    found, lines, at = [], path.read_text(encoding="utf-8").split("\n"), 0
    while at < len(lines):
        fence = re.match(r"^(`{3,}|~{3,})\s*(\S*)", lines[at])
        if not fence:
            at += 1
            continue
        end = next((i for i in range(at + 1, len(lines)) if lines[i].startswith(fence.group(1))), None)
        assert end is not None, f"{path.name}:{at + 1}: a fence that is never closed"
        if fence.group(2).lower() in ("python", "py", "python3"):
            before = next((lines[i] for i in range(at - 1, -1, -1) if lines[i].strip()), "")
            marker = MARKER.fullmatch(before.strip())
            found.append(Block(path, at + 1, "\n".join(lines[at + 1 : end]) + "\n", marker and marker.group(1)))
        at = end + 1
    return found


BLOCKS = [block for document in DOCUMENTS for block in blocks_of(document)]
RUNNABLE = [block for block in BLOCKS if block.marker == "runs"]


def test_the_readme_shows_python_that_runs():
    # The quick start is what a reader tries first: it must be checked by running, not only typed.
    assert [block for block in RUNNABLE if block.document.name == "README.md"]


def _markers():
    for document in DOCUMENTS:
        lines = document.read_text(encoding="utf-8").split("\n")
        for number, line in enumerate(lines, 1):
            if line.lstrip().startswith("<!--") and "doc-block" in line:
                following = next((text for text in lines[number:] if text.strip()), "")
                yield pytest.param(line.strip(), following, id=f"{document.relative_to(ROOT)}:{number}")


@pytest.mark.parametrize("marker, following", list(_markers()))
def test_every_marker_is_one_the_checker_reads(marker, following):
    # A misspelt marker, or one that is not right before a Python block, would silently leave a block
    # unrun: an unmarked block is only type-checked.
    assert MARKER.fullmatch(marker), marker
    assert re.match(r"^(`{3,}|~{3,})\s*(python|py|python3)\s*$", following), following


@pytest.fixture(scope="module")
def mypy_errors(tmp_path_factory):
    """mypy's complaints per block, from one run over all of them (each block a module of its own)."""
    pytest.importorskip("mypy")
    folder = tmp_path_factory.mktemp("blocks")
    for block in BLOCKS:
        (folder / f"{block.module}.py").write_text(block.code, encoding="utf-8")
    (folder / "mypy.ini").write_text(MYPY_CONFIG)
    checked = subprocess.run(
        [
            sys.executable,
            "-m",
            "mypy",
            "--strict",
            "--no-incremental",
            "--config-file",
            "mypy.ini",
            "--python-executable",
            sys.executable,
            *(f"{block.module}.py" for block in BLOCKS),
        ],
        cwd=folder,
        capture_output=True,
        text=True,
        check=False,
    )
    assert checked.returncode in (0, 1), checked.stdout + checked.stderr  # 2: mypy itself failed
    errors = {}
    for line in checked.stdout.splitlines():
        module, _, rest = line.partition(".py:")
        if rest:
            errors.setdefault(module, []).append(rest)
    return errors


@pytest.mark.parametrize("block", BLOCKS, ids=lambda block: block.name)
def test_block_type_checks(block, mypy_errors):
    assert mypy_errors.get(block.module, []) == [], block.code


@pytest.mark.parametrize("block", RUNNABLE, ids=lambda block: block.name)
def test_block_runs(block, tmp_path):
    # From an empty folder, so that the installed package is the one imported, not the source tree.
    environment = {key: value for key, value in os.environ.items() if key != "PYTHONPATH"}
    done = subprocess.run(
        [sys.executable, "-c", block.code],
        cwd=tmp_path,
        env=environment,
        capture_output=True,
        text=True,
        timeout=120,
        check=False,
    )
    assert done.returncode == 0, done.stderr
    assert "Traceback" not in done.stderr, done.stderr


NAMED_PATH = re.compile(r"`((?:docs|examples|scripts|bench|fuzz|tests)/[^`\s]*)`")


@pytest.mark.parametrize("path", sorted(set(NAMED_PATH.findall((ROOT / "README.md").read_text(encoding="utf-8")))))
def test_what_the_readme_names_is_there(path):
    # The README is also the package's description on an index page, so it names documents by their
    # paths instead of linking them; scripts/release.sh checks the same paths against the sdist.
    assert (ROOT / path).exists()


def test_the_readme_links_no_path():
    text = (ROOT / "README.md").read_text(encoding="utf-8")
    links = re.findall(r"\]\(\s*<?([^)\s>]+)", text) + re.findall(r"^\s*\[[^]]+\]:\s*<?([^\s>]+)", text, re.M)
    assert [link for link in links if not re.match(r"[A-Za-z][A-Za-z0-9+.-]*:|#", link)] == []


def test_the_readme_is_a_front_page():
    lines = (ROOT / "README.md").read_text(encoding="utf-8").split("\n")
    assert len(lines) <= 160
    assert lines[0] == "# zorvekcam"
    assert "`bash scripts/run.sh`" in lines[2] and "`bash scripts/test.sh`" in lines[3]


def _relative_links():
    for document in DOCUMENTS[1:]:
        text = re.sub(r"```.*?```", "", document.read_text(encoding="utf-8"), flags=re.S)
        targets = {
            target.split("#")[0]
            for target in re.findall(r"\]\(\s*<?([^)\s>]+)", text)
            if not re.match(r"[A-Za-z][A-Za-z0-9+.-]*:|#", target)
        }
        for target in sorted(targets):
            yield pytest.param(document, target, id=f"{document.name}->{target}")


@pytest.mark.parametrize("document, target", list(_relative_links()))
def test_links_between_the_documents_lead_somewhere(document, target):
    assert (document.parent / target).exists()
