"""Calls into Zorvek with its trace captured.

Zorvek writes its progress and failure texts with C stdio to file descriptor 1, and never flushes
them. Each call is therefore made with descriptor 1 pointing at a temporary file, and C stdio is
flushed before it is pointed back, so that nothing of the trace reaches the caller's standard output,
not even later, when stdio would have flushed its buffer at exit.
"""

from __future__ import annotations

import contextlib
import contextvars
import ctypes
import os
import sys
import tempfile
import threading
from collections.abc import Callable, Iterator
from typing import TypeVar

_R = TypeVar("_R")

# The descriptor is shared by the whole process: one capture at a time.
_lock = threading.Lock()


def _load_c_runtime() -> ctypes.CDLL:
    # The C runtime that both the interpreter and the extension modules write through.
    library = ctypes.CDLL("ucrtbase") if sys.platform == "win32" else ctypes.CDLL(None)
    library.fflush.argtypes = [ctypes.c_void_p]
    library.fflush.restype = ctypes.c_int
    return library


_c_runtime = _load_c_runtime()


def _flush_all() -> None:
    """Flushes Python's and C's buffered standard output into descriptor 1 as it stands now."""
    if sys.stdout is not None:
        with contextlib.suppress(OSError, ValueError):  # a closed or detached stream
            sys.stdout.flush()
    _c_runtime.fflush(None)  # every C stdio stream


class Trace:
    """The raw trace text of the calls made while it is active, in the order they were made."""

    __slots__ = ("_parts",)

    def __init__(self) -> None:
        self._parts: list[str] = []

    @property
    def text(self) -> str:
        return "".join(self._parts)

    def __repr__(self) -> str:
        return f"Trace({self.text!r})"


_active: contextvars.ContextVar[tuple[Trace, ...]] = contextvars.ContextVar("zorvekcam_traces", default=())


@contextlib.contextmanager
def trace() -> Iterator[Trace]:
    """Collects the trace text of every Zorvek call made inside the block, in this thread.

    >>> with trace() as t:
    ...     cameras = list_devices()
    >>> t.text   # e.g. "initialize is statredNotInitialized ErrorDevice is not connected"

    Blocks may nest: an outer block sees the calls of the inner ones too.
    """
    collected = Trace()
    token = _active.set(_active.get() + (collected,))
    try:
        yield collected
    finally:
        _active.reset(token)


def call(function: Callable[..., _R], *args: object) -> tuple[_R, str]:
    """Calls `function(*args)` with descriptor 1 redirected; returns its result and what it wrote."""
    with _lock, tempfile.TemporaryFile() as sink:
        _flush_all()
        try:
            saved: int | None = os.dup(1)
        except OSError:  # no standard output at all (a windowed program): leave none behind either
            saved = None
        os.dup2(sink.fileno(), 1)
        try:
            result = function(*args)
        finally:
            _c_runtime.fflush(None)
            if saved is None:
                os.close(1)
            else:
                os.dup2(saved, 1)
                os.close(saved)
        sink.seek(0)
        text = sink.read().decode("utf-8", "replace")
    for collected in _active.get():
        collected._parts.append(text)
    return result, text
