"""What the code under test writes to standard output, taken at file descriptor 1, so that C stdio's
buffer is included: the Python side's one capture helper (tests/support/capture.h is the C++ one).
``with stdout_captured() as out: ...``, then ``out.text`` is what was written, decoded as UTF-8 with
undecodable bytes kept as surrogate escapes."""

from __future__ import annotations

import contextlib
import ctypes
import os
import sys
import tempfile
from collections.abc import Iterator

# The process's C runtime, whose stdout the code under test writes to: on Windows the Universal CRT
# that CPython and every /MD extension share (a module with a runtime of its own would write past
# the capture).
_libc = ctypes.CDLL("ucrtbase" if sys.platform == "win32" else None)


class Captured:
    text: str = ""


@contextlib.contextmanager
def stdout_captured() -> Iterator[Captured]:
    captured = Captured()
    if sys.stdout is not None:
        sys.stdout.flush()
    _libc.fflush(None)
    saved = os.dup(1)
    with tempfile.TemporaryFile() as sink:
        os.dup2(sink.fileno(), 1)
        try:
            yield captured
        finally:
            _libc.fflush(None)
            os.dup2(saved, 1)
            os.close(saved)
            sink.seek(0)
            captured.text = sink.read().decode("utf-8", "surrogateescape")
