"""The child processes of tests/smoke.py and the Windows tests, started again where Wine failed to start
one (``spawn.run`` and ``spawn.popen`` take what ``subprocess.run`` and ``subprocess.Popen`` take).

Now and then Wine loses a new process before the process's own code runs: the child dies while
Wine's loader is still starting it, and CreateProcess reports ERROR_INTERNAL_ERROR (1359). Seen once,
in CI, starting the console command of a freshly installed wheel; 1,800 starts here, on an idle and
on a loaded machine, did not show it again. Nothing of the program, let alone of ours, has run by
then (our extensions load long after the executable's own imports), so starting it again hides no
fault of the code under test. Windows itself does not fail so, and there, as for every other error,
the error is raised at once.

Importing this module under Wine also brings up Wine's desktop, from the importing process, before
it starts any child (see below)."""

from __future__ import annotations

import ctypes
import subprocess
import sys
import time
from collections.abc import Callable
from typing import Any, TypeVar

ERROR_INTERNAL_ERROR = 1359
ATTEMPTS = 3

Started = TypeVar("Started")


def _under_wine() -> bool:
    if sys.platform != "win32":
        return False
    return hasattr(ctypes.WinDLL("ntdll"), "wine_get_version")


UNDER_WINE = _under_wine()

# Wine starts its desktop process for the first program that needs one (any that starts COM does),
# and that process is given the starting program's standard error. Started by a console command
# whose output a test reads through a pipe, it would hold the pipe open for as long as the desktop
# lives, and the read would never end (seen: a smoke test that hung until killed, its children long
# gone): the desktop is brought up from the process that starts the children, before any child.
if UNDER_WINE:
    ctypes.windll.user32.GetDesktopWindow()


def started(start: Callable[..., Started], *args: Any, under_wine: bool = UNDER_WINE, **kwargs: Any) -> Started:
    """start(*args, **kwargs), again (up to ATTEMPTS in all) while Wine could not create the process."""
    for attempt in range(1, ATTEMPTS + 1):
        try:
            return start(*args, **kwargs)
        except OSError as error:
            if not under_wine or getattr(error, "winerror", None) != ERROR_INTERNAL_ERROR or attempt == ATTEMPTS:
                raise
            print(f"spawn: Wine could not start {args[0]!r} ({error}); starting it again", file=sys.stderr)
            time.sleep(0.2 * attempt)
    raise AssertionError("unreachable")


def run(*args: Any, **kwargs: Any) -> subprocess.CompletedProcess:
    return started(subprocess.run, *args, **kwargs)


def popen(*args: Any, **kwargs: Any) -> subprocess.Popen:
    return started(subprocess.Popen, *args, **kwargs)
