"""The attached target cameras as plain Python values, from one walk of the native core."""

from __future__ import annotations

import contextvars
import sys

from . import _core

# Type names only for the checker: importing typing (or contextlib, collections) at run time would
# cost `import zorvekcam` more than everything else it does.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from types import TracebackType

# What OpenCV's VideoCapture(index, backend) takes to open a camera: its API preference constants
# (cv2.CAP_V4L2, cv2.CAP_DSHOW), so that a camera can be opened without mapping anything.
CAP_V4L2 = 200
CAP_DSHOW = 700
_BACKEND = CAP_DSHOW if sys.platform == "win32" else CAP_V4L2


class _Record:
    """An immutable record of named fields: equal, and hashed, by their values."""

    __slots__: tuple[str, ...] = ()

    def _values(self) -> tuple[object, ...]:
        return tuple(getattr(self, field) for field in self.__slots__)

    def __setattr__(self, name: str, value: object) -> None:
        raise AttributeError(f"{type(self).__name__} is immutable: cannot set {name!r}")

    def __delattr__(self, name: str) -> None:
        raise AttributeError(f"{type(self).__name__} is immutable: cannot delete {name!r}")

    def __eq__(self, other: object) -> bool:
        if type(other) is not type(self):
            return NotImplemented
        return self._values() == other._values()

    def __hash__(self) -> int:
        return hash((type(self).__name__, self._values()))

    def __repr__(self) -> str:
        fields = ", ".join(f"{field}={getattr(self, field)!r}" for field in self.__slots__)
        return f"{type(self).__name__}({fields})"

    def _set(self, **values: object) -> None:
        for name, value in values.items():
            object.__setattr__(self, name, value)


class Camera(_Record):
    """One attached camera of the target model.

    To open it with OpenCV: ``cv2.VideoCapture(camera.index, camera.backend)``. To pick one out of
    several identical cameras, go by ``serial`` where the cameras have one, else by ``port``.
    """

    __slots__ = ("name", "vid", "pid", "path", "node", "index", "backend", "serial", "port")

    name: str
    """Its "FriendlyName", whole; empty when the device has no readable name."""
    vid: str
    """The USB vendor ID from its path, "2560"."""
    pid: str
    """The USB product ID from its path, "C0D6"."""
    path: str
    """Its device path, upper-cased as the records of Zorvek hold it (at most 259 characters)."""
    node: str | None
    """The device node to open it by (/dev/videoN on Linux); None where the platform has none."""
    index: int
    """What OpenCV opens it by with ``backend``: N of /dev/videoN on Linux; on Windows its position
    among all DirectShow video input devices, every listed device counted, as OpenCV counts them."""
    backend: int
    """OpenCV's API preference for it: CAP_V4L2 (200) on Linux, CAP_DSHOW (700) on Windows."""
    serial: str | None
    """The USB serial number, where the device reports one (a real one, not one the system made up)."""
    port: str | None
    """The physical USB port (on Linux the USB device's kernel name, such as "1-2.3"), where known."""

    def __init__(self, name: str, vid: str, pid: str, path: str, node: str | None, index: int, backend: int,
                 serial: str | None, port: str | None) -> None:
        self._set(name=name, vid=vid, pid=pid, path=path, node=node, index=index, backend=backend, serial=serial,
                  port=port)

    def as_dict(self) -> dict[str, str | int | None]:
        """The fields by name, as the command line's JSON shows them."""
        return {field: getattr(self, field) for field in self.__slots__}


class EnumerationError(OSError):
    """The system's enumeration of video input devices failed. (No camera attached is no error:
    that is an empty list.)

    ``step`` names what failed, in the platform's words. Where COM failed (Windows), ``step`` is the
    COM call and ``hresult`` its result, shown as its eight hex digits; ``errno`` and ``strerror``
    are None. Where a system call failed (Linux), ``step`` is the call and what it was called on
    (``"opendir /sys/class/video4linux"``), ``errno`` and ``strerror`` say why, as in any OSError,
    and ``hresult`` is None."""

    step: str
    hresult: int | None

    def __init__(self, step: str, hresult: int | None = None, errno: int | None = None) -> None:
        if hresult is not None and errno is None:
            # HRESULTs are 32 bits: shown unsigned, whichever sign the caller's headers gave them.
            why = f"{step} returned 0x{hresult & 0xFFFFFFFF:08X}"
            super().__init__(f"listing the video input devices failed: {why}")
        elif errno is not None and hresult is None:
            import errno as codes
            import os

            strerror = os.strerror(errno)
            super().__init__(errno, strerror)  # errno and strerror, as any OSError has them
            name = codes.errorcode.get(errno)
            why = f"{step}: {strerror}" + (f" ({name})" if name else "")
        else:
            raise TypeError("EnumerationError takes an HRESULT or an errno, one of the two")
        self._message = f"listing the video input devices failed: {why}"
        self.step = step
        self.hresult = hresult

    def __str__(self) -> str:
        return self._message

    def __reduce__(self) -> tuple[type[EnumerationError], tuple[str, int | None, int | None]]:
        return type(self), (self.step, self.hresult, self.errno if self.hresult is None else None)


class Trace:
    """The trace text of the listings made while it is active, in the order they were made: what
    ``with zorvekcam.trace() as t:`` gives as ``t``.

    ``text``: the walks' progress texts, one walk after another ("Before While loop", "Entered a
    While loop", ... "Before index list is fill" for each device), as Zorvek's own scan writes them;
    Zorvek's opening "initialize is statred", its masks "Before index list is : N" and its verdicts
    belong to its calls and are not in it. Empty where no listing was made, and
    where the machine has no video input device at all: there is nothing to walk. Nothing of it is
    ever written to standard output.

    Also a context manager itself: ``with Trace() as t:`` collects into ``t`` as trace() does.
    Blocks may nest, each collecting what the listings inside it make.
    """

    __slots__ = ("_parts", "_tokens")

    def __init__(self) -> None:
        self._parts: list[str] = []
        self._tokens: list[contextvars.Token[tuple[Trace, ...]]] = []

    @property
    def text(self) -> str:
        """The trace text collected so far."""
        return "".join(self._parts)

    def _add(self, text: str) -> None:
        self._parts.append(text)

    def __enter__(self) -> Trace:
        self._tokens.append(_active.set(_active.get() + (self,)))
        return self

    def __exit__(self, kind: type[BaseException] | None, error: BaseException | None,
                 traceback: TracebackType | None) -> None:
        _active.reset(self._tokens.pop())

    def __repr__(self) -> str:
        return f"Trace({self.text!r})"


_active: contextvars.ContextVar[tuple[Trace, ...]] = contextvars.ContextVar("zorvekcam_traces", default=())


def trace() -> Trace:
    """Collects the trace text of every listing made inside the block, in this context (this thread,
    or this asyncio task); the block gives a Trace.

    >>> with trace() as t:
    ...     cameras = list_devices()
    >>> t.text   # the walk's progress texts, device by device

    Blocks may nest: an outer block sees the listings of the inner ones too. Nothing is written to
    standard output, ever.
    """
    return Trace()


def _node(path: str) -> str | None:
    # A Linux device path ends in the name of the node to open, as the record holds it: upper-cased.
    if not sys.platform.startswith("linux"):
        return None
    last = path.rpartition("\\")[2]
    number = last[5:]
    if last[:5] != "VIDEO" or not (number.isascii() and number.isdigit()):
        return None
    return "/dev/video" + number


def list_devices() -> list[Camera]:
    """The target cameras attached right now, in enumeration order: one walk over the devices, with
    the interpreter's lock released while it runs. ``[]`` when none is attached; EnumerationError
    when the system's enumeration itself failed."""
    traces = _active.get()
    entries, text, failure = _core.list_cameras(bool(traces))
    if text is not None:
        for collected in traces:
            collected._add(text)
    if failure is not None:
        step, hresult, errno = failure
        raise EnumerationError(step, hresult, errno)
    return [Camera(name, vid, pid, path, _node(path), index, _BACKEND, serial, port)
            for name, vid, pid, path, index, serial, port in entries]


def count() -> int:
    """How many target cameras are attached right now: the length of one listing."""
    return len(list_devices())


async def alist_devices() -> list[Camera]:
    """list_devices() on a worker thread, so that the event loop keeps running meanwhile."""
    import asyncio

    return await asyncio.to_thread(list_devices)


async def acount() -> int:
    """count() on a worker thread, so that the event loop keeps running meanwhile."""
    return len(await alist_devices())
