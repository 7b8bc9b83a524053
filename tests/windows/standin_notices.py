"""The tests' own cfgmgr32.dll (tests/windows/cfgmgr32_standin) as its tests and benchmark drive it:
notice files into the folder that ZORVEK_CFGMGR_DIR names, its log out of there (docs/windows.md
says what the stand-in reads and writes)."""

from __future__ import annotations

import time
from pathlib import Path

# KSCATEGORY_CAPTURE, the class of the watch's one filter, as the stand-in logs it.
CAPTURE = "{65E8773D-8F56-11D0-A3B9-00A0C9223196}"
# How long a test waits for what must come before it fails rather than hangs: a guard, not a measure.
PATIENCE = 30.0


class Standin:
    """The stand-in's folder for one test: notices go in, its log comes out."""

    def __init__(self, folder: Path):
        self.folder = folder
        self.written = 0

    def announce(self, *lines: str) -> None:
        """A notice file, claimed whole by a process with registrations; written aside first, so that
        it is never claimed half written."""
        self.written += 1
        aside = self.folder / f"{self.written:04}.part"
        aside.write_text("".join(line + "\n" for line in lines))
        aside.rename(self.folder / f"{self.written:04}.notice")

    def log(self) -> list[list[str]]:
        """The log's whole lines as [time, process, thread, what, ...] (one being written is left for
        the next look)."""
        path = self.folder / "log.txt"
        text = path.read_text() if path.exists() else ""
        return [line.split(" ") for line in text[: text.rfind("\n") + 1].splitlines()]

    def what(self, pid: int | None = None) -> list[str]:
        """The logged happenings (after time, process, thread), of one process or all."""
        return [" ".join(line[3:]) for line in self.log() if pid is None or line[1] == str(pid)]

    def wait_for(self, predicate, what: str) -> list[list[str]]:
        ends = time.monotonic() + PATIENCE
        while not predicate(log := self.log()):
            assert time.monotonic() < ends, f"the stand-in never logged {what}: {self.what()}"
            time.sleep(0.01)
        return log

    def delivered(self, count: int) -> None:
        """Waits for `count` callbacks in all to have returned."""
        self.wait_for(lambda log: sum(line[3] == "returned" for line in log) >= count, f"{count} callbacks returned")

    def registrations(self) -> list[tuple[str, str, str]]:
        """(process, handle, what the filter asked for) of each registration logged."""
        return [(line[1], line[4], " ".join(line[5:])) for line in self.log() if line[3] == "register"]
