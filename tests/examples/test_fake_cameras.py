"""examples/fake_cameras.sh, run as a reader runs it (with the installed package instead of a fresh
setup): the fake cameras listed by the package, by the command's table and JSON, and the watch
seeing the third camera added and removed. Skipped where umockdev or its Python bindings are missing
(scripts/setup.sh --test installs them where it can)."""

import json
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
CAMERAS = [("SN0001", "1-2", "/dev/video0", 0), ("SN0002", "1-3", "/dev/video2", 2)]


def _umockdev_missing():
    if shutil.which("umockdev-wrapper") is None:
        return "umockdev-wrapper is not installed"
    probe = subprocess.run(
        ["/usr/bin/python3", "-c", "import gi; gi.require_version('UMockdev', '1.0')"], capture_output=True, check=False
    )
    return "Debian's python3 has no umockdev bindings" if probe.returncode else None


@pytest.fixture(scope="module")
def run():
    missing = _umockdev_missing()
    if missing:
        pytest.skip(missing)
    # A hang guard only: the example itself gives up on a silent watch after 30 s.
    done = subprocess.run(
        ["bash", str(ROOT / "examples/fake_cameras.sh")],
        capture_output=True,
        text=True,
        env={**os.environ, "ZORVEKCAM_PYTHON": sys.executable},
        timeout=300,
        check=False,
    )
    sections = {}
    for part in ("\n" + done.stdout).split("\n== ")[1:]:
        title, _, body = part.partition("\n")
        sections[title.split(":")[0]] = body
    return done, sections


def test_it_ends_well(run):
    done, sections = run
    assert done.returncode == 0, done.stdout + done.stderr
    assert list(sections) == [
        "two fake cameras of the model plugged in",
        "the package",
        "the command",
        "zorvekcam --watch, while a third camera is plugged in and unplugged",
        "done",
    ]


@pytest.mark.parametrize("serial, port, node, index", CAMERAS)
def test_the_package_lists_each_camera(run, serial, port, node, index):
    assert f"Zorvek Cam {serial} {port} {node} {index}\n" in run[1]["the package"]


def _table_and_json(text):
    table, _, rest = text.partition("--json\n")
    return table, json.loads(rest)


@pytest.mark.parametrize("serial, port, node, index", CAMERAS)
def test_the_table_shows_each_camera_on_one_line(run, serial, port, node, index):
    table, _ = _table_and_json(run[1]["the command"])
    rows = [line for line in table.splitlines() if serial in line]
    assert len(rows) == 1 and re.search(rf"\b{index}\s+{serial}\s+{port}\s+{node}\s", rows[0]), table


def test_the_json_lists_exactly_the_cameras(run):
    _, cameras = _table_and_json(run[1]["the command"])
    assert [(c["serial"], c["port"], c["node"], c["index"], c["vid"], c["pid"]) for c in cameras] == [
        (serial, port, node, index, "2560", "C0D6") for serial, port, node, index in CAMERAS
    ]


def test_the_watch_sees_the_third_camera_come_and_go(run):
    watch = run[1]["zorvekcam --watch, while a third camera is plugged in and unplugged"]
    events = [
        (match.group(1), match.group(2))
        for match in re.finditer(r"\b(present|added|removed)\b.*?(/dev/video\d+)", watch)
    ]
    assert events == [
        ("present", "/dev/video0"),
        ("present", "/dev/video2"),
        ("added", "/dev/video4"),
        ("removed", "/dev/video4"),
    ], watch
