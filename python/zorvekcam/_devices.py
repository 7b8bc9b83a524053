"""The attached target cameras as plain Python values, from one walk of the native core."""

from __future__ import annotations

import contextvars
import os
import sys
from errno import ENOENT

from . import _core

# Type names only for the checker: importing typing (or contextlib, collections) at run time would
# cost `import zorvekcam` more than everything else it does.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from fractions import Fraction
    from types import TracebackType

# What OpenCV's VideoCapture(index, backend) takes to open a camera: its API preference constants
# (cv2.CAP_V4L2, cv2.CAP_DSHOW, cv2.CAP_MSMF), so that a camera can be opened without mapping anything.
CAP_V4L2 = 200
CAP_DSHOW = 700
CAP_MSMF = 1400
_BACKEND = CAP_DSHOW if sys.platform == "win32" else CAP_V4L2
# The backends a listing can number cameras for: the platform's own, and on Windows Media Foundation's
# too (the native core's numbering 1400; 0 is the platform's own).
_BACKENDS = {CAP_DSHOW: 0, CAP_MSMF: CAP_MSMF} if sys.platform == "win32" else {CAP_V4L2: 0}


def _native_backend(backend: int | None) -> int:
    if backend is None:
        return 0
    # bool is an int, and True would pass for 1: no backend is a truth value.
    if not isinstance(backend, int) or isinstance(backend, bool):
        raise TypeError(f"backend must be an OpenCV API preference (an int) or None, not {type(backend).__name__}")
    if backend not in _BACKENDS:
        names = " or ".join(
            f"{name} ({value})"
            for name, value in (("CAP_V4L2", CAP_V4L2), ("CAP_DSHOW", CAP_DSHOW), ("CAP_MSMF", CAP_MSMF))
            if value in _BACKENDS
        )
        raise ValueError(f"backend {backend} is not one this platform lists cameras for: {names}, or None")
    return _BACKENDS[backend]


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


def _fraction_text(value: Fraction) -> str:
    # Exact, and read back by Fraction(): "30000/1001", "30/1".
    return f"{value.numerator}/{value.denominator}"


class SizeRange(_Record):
    """A range of sizes a mode admits: every width from ``min_width`` to ``max_width`` by
    ``step_width``, and every height likewise. ``kind`` is "stepwise", or "continuous" (steps of 1)."""

    __slots__ = ("kind", "min_width", "min_height", "max_width", "max_height", "step_width", "step_height")

    kind: str
    min_width: int
    min_height: int
    max_width: int
    max_height: int
    step_width: int
    step_height: int

    def __init__(
        self,
        kind: str,
        min_width: int,
        min_height: int,
        max_width: int,
        max_height: int,
        step_width: int,
        step_height: int,
    ) -> None:
        self._set(
            kind=kind,
            min_width=min_width,
            min_height=min_height,
            max_width=max_width,
            max_height=max_height,
            step_width=step_width,
            step_height=step_height,
        )

    def as_dict(self) -> dict[str, str | int]:
        """The fields by name, as the command line's JSON shows them."""
        return {field: getattr(self, field) for field in self.__slots__}


class RateRange(_Record):
    """A range of frame rates a mode admits, in frames a second, exact: from ``min_fps`` to
    ``max_fps``. A device steps its time per frame, not its rate: a "stepwise" range admits the rates
    of the intervals 1/max_fps, 1/max_fps + step_interval, ... up to 1/min_fps (``step_interval`` in
    seconds); a "continuous" one every rate between the two (``step_interval`` None)."""

    __slots__ = ("kind", "min_fps", "max_fps", "step_interval")

    kind: str
    min_fps: Fraction
    max_fps: Fraction
    step_interval: Fraction | None

    def __init__(self, kind: str, min_fps: Fraction, max_fps: Fraction, step_interval: Fraction | None) -> None:
        self._set(kind=kind, min_fps=min_fps, max_fps=max_fps, step_interval=step_interval)

    def as_dict(self) -> dict[str, str | None]:
        """The fields by name, as the command line's JSON shows them: fractions as exact "n/d" text."""
        step = self.step_interval
        return {
            "kind": self.kind,
            "min_fps": _fraction_text(self.min_fps),
            "max_fps": _fraction_text(self.max_fps),
            "step_interval": None if step is None else _fraction_text(step),
        }


class Mode(_Record):
    """One way to open a camera: a pixel format, a size and a frame rate, as the device reports them.

    A size the device lists with several rates is one Mode per rate, in the device's order. A range of
    sizes or of rates stays one Mode, with the range in ``sizes`` or ``rates``: ``width`` and ``height``
    are then the smallest size, ``fps`` the highest rate.
    """

    __slots__ = ("format", "width", "height", "fps", "sizes", "rates")

    format: str
    """The FourCC as the platform reports it ("MJPG", "YUYV" on Linux, "YUY2" on Windows, "H264"); a
    byte that is no printable ASCII character (or a backslash) shows as \\xNN."""
    width: int
    """The width in pixels; for a range of sizes, its smallest."""
    height: int
    """The height in pixels; for a range of sizes, its smallest."""
    fps: Fraction | None
    """Frames a second, exact (30000/1001 for NTSC's 29.97); for a range of rates, its highest; None
    where the device tells no rate for this size."""
    sizes: SizeRange | None
    """The range of sizes, or None for the one size ``width`` x ``height``."""
    rates: RateRange | None
    """The range of rates, or None for the one rate ``fps``."""

    def __init__(
        self,
        format: str,
        width: int,
        height: int,
        fps: Fraction | None,
        sizes: SizeRange | None = None,
        rates: RateRange | None = None,
    ) -> None:
        self._set(format=format, width=width, height=height, fps=fps, sizes=sizes, rates=rates)

    def as_dict(self) -> dict[str, str | int | dict[str, str | int] | dict[str, str | None] | None]:
        """The fields by name, as the command line's JSON shows them: rates as exact "n/d" text,
        ranges as objects, null where there is none."""
        return {
            "format": self.format,
            "width": self.width,
            "height": self.height,
            "fps": None if self.fps is None else _fraction_text(self.fps),
            "sizes": None if self.sizes is None else self.sizes.as_dict(),
            "rates": None if self.rates is None else self.rates.as_dict(),
        }


_SPANS = ("discrete", "stepwise", "continuous")


def _mode(entry: tuple[str, int, int, int, int, int, int, int, bool, int, int, int, int, int, int, int]) -> Mode:
    from fractions import Fraction  # costs more than the rest of `import zorvekcam`: only when modes are read

    (
        format,
        sizes,
        width,
        height,
        max_width,
        max_height,
        step_width,
        step_height,
        has_rate,
        rates,
        numerator,
        denominator,
        max_numerator,
        max_denominator,
        step_numerator,
        step_denominator,
    ) = entry
    size_range = None
    if sizes:
        size_range = SizeRange(_SPANS[sizes], width, height, max_width, max_height, step_width, step_height)
    fps = Fraction(denominator, numerator) if has_rate else None
    rate_range = None
    if fps is not None and rates:
        step = Fraction(step_numerator, step_denominator) if _SPANS[rates] == "stepwise" else None
        rate_range = RateRange(_SPANS[rates], Fraction(max_denominator, max_numerator), fps, step)
    return Mode(format, width, height, fps, size_range, rate_range)


class CameraError(OSError):
    """A camera's device could not be opened, or not read to its end. ``step`` names what failed:
    on Linux the call and the node ("open /dev/video3", "VIDIOC_ENUM_FMT /dev/video3"), with
    ``errno`` and ``strerror`` set; on Windows the COM call, with ``hresult`` its result (unsigned)."""

    step: str
    hresult: int | None

    def __init__(self, step: str, hresult: int | None = None, errno: int | None = None) -> None:
        # The same order of arguments as EnumerationError's.
        if errno is not None:
            super().__init__(errno, os.strerror(errno))
            self._message = f"reading the camera's modes failed: {step}: {os.strerror(errno)} (errno {errno})"
        else:
            # HRESULTs are 32 bits: shown unsigned, whichever sign the caller's headers gave them.
            hresult = (hresult or 0) & 0xFFFFFFFF
            super().__init__(f"reading the camera's modes failed: {step} returned 0x{hresult:08X}")
            self._message = str(self.args[0])
        self.step = step
        self.hresult = hresult

    def __str__(self) -> str:
        return self._message

    def __reduce__(self) -> tuple[type[CameraError], tuple[str, int | None, int | None]]:
        return type(self), (self.step, self.hresult, self.errno)


class Camera(_Record):
    """One attached camera of the target model.

    To open it with OpenCV: ``cv2.VideoCapture(camera.index, camera.backend)``. To pick one out of
    several identical cameras, go by ``serial`` where the cameras have one, else by ``port``.
    """

    __slots__ = ("name", "vid", "pid", "path", "node", "index", "backend", "serial", "port", "moniker")

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
    among all DirectShow video input devices, every listed device counted, as OpenCV counts them (or,
    listed with CAP_MSMF, its position among Media Foundation's video capture sources)."""
    backend: int
    """OpenCV's API preference for it: CAP_V4L2 (200) on Linux, CAP_DSHOW (700) on Windows, CAP_MSMF
    (1400) where the listing was asked for Media Foundation's index."""
    serial: str | None
    """The USB serial number, where the device reports one (a real one, not one the system made up)."""
    port: str | None
    """The physical USB port (on Linux the USB device's kernel name, such as "1-2.3"), where known."""
    moniker: str | None
    """Windows: the display name of its DirectShow moniker, which tells identical cameras apart where
    their names cannot; None elsewhere."""

    def __init__(
        self,
        name: str,
        vid: str,
        pid: str,
        path: str,
        node: str | None,
        index: int,
        backend: int,
        serial: str | None,
        port: str | None,
        moniker: str | None = None,
    ) -> None:
        self._set(
            name=name,
            vid=vid,
            pid=pid,
            path=path,
            node=node,
            index=index,
            backend=backend,
            serial=serial,
            port=port,
            moniker=moniker,
        )

    def as_dict(self) -> dict[str, str | int | None]:
        """The fields by name, as the command line's JSON shows them."""
        return {field: getattr(self, field) for field in self.__slots__}

    def modes(self) -> list[Mode]:
        """The modes the camera can be opened in, asked of the device now (a listing never asks): on
        Linux its node is opened once and enumerated; on Windows its capture filter is bound. The
        interpreter's lock is released meanwhile. CameraError when the device cannot be opened or read."""
        source = self.node or self.moniker
        if not source:
            raise CameraError("find the camera's node or moniker", errno=ENOENT)
        entries, failure = _core.modes(source)
        if failure is not None:
            step, code = failure
            if sys.platform == "win32":
                raise CameraError(step, hresult=code)
            raise CameraError(step, errno=code)
        return [_mode(entry) for entry in entries]

    @property
    def ffmpeg_input(self) -> list[str]:
        """The arguments that make ffmpeg open this camera, to put before its output options:
        ``["-f", "v4l2", "-i", "/dev/video3"]`` on Linux; on Windows ``["-f", "dshow", "-i",
        "video=<moniker>"]`` with the moniker's ':' made '_', as ffmpeg names a device's alternative
        name; ``[]`` where the camera has neither."""
        if self.node:
            return ["-f", "v4l2", "-i", self.node]
        if self.moniker:
            return ["-f", "dshow", "-i", "video=" + self.moniker.replace(":", "_")]
        return []

    @property
    def gstreamer_source(self) -> str | None:
        """The GStreamer element that opens this camera, for a launch line or Gst.parse_launch():
        ``v4l2src device=/dev/video3`` on Linux; None elsewhere."""
        if self.node and all(c.isascii() and (c.isalnum() or c in "/._-") for c in self.node):
            return f"v4l2src device={self.node}"
        return None


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
            strerror = os.strerror(errno)
            super().__init__(errno, strerror)  # errno and strerror, as any OSError has them
            why = f"{step}: {strerror} (errno {errno})"  # as CameraError says it
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

    def __exit__(
        self, kind: type[BaseException] | None, error: BaseException | None, traceback: TracebackType | None
    ) -> None:
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


def list_devices(backend: int | None = None) -> list[Camera]:
    """The target cameras attached right now, in enumeration order: one walk over the devices, with
    the interpreter's lock released while it runs. ``[]`` when none is attached; EnumerationError
    when the system's enumeration itself failed.

    ``backend`` picks the OpenCV backend whose index each camera gets: None (or the platform's own,
    CAP_V4L2 on Linux, CAP_DSHOW on Windows) today's listing; on Windows CAP_MSMF, the index OpenCV's
    Media Foundation backend opens it by, its position among Media Foundation's video capture
    sources, with the cameras in that order and those Media Foundation does not list left out.
    ValueError for a backend this platform does not have."""
    native = _native_backend(backend)
    traces = _active.get()
    entries, text, failure = _core.list_cameras(bool(traces), native)
    if text is not None:
        for collected in traces:
            collected._add(text)
    if failure is not None:
        step, hresult, errno = failure
        raise EnumerationError(step, hresult, errno)
    listed_as = native or _BACKEND
    return [
        Camera(name, vid, pid, path, node, index, listed_as, serial, port, moniker)
        for name, vid, pid, path, index, serial, port, node, moniker in entries
    ]


def count() -> int:
    """How many target cameras are attached right now: the length of one listing."""
    return len(list_devices())


async def alist_devices(backend: int | None = None) -> list[Camera]:
    """list_devices(backend) on a worker thread, so that the event loop keeps running meanwhile."""
    import asyncio

    _native_backend(backend)  # a bad backend is refused here, before a thread is asked for
    return await asyncio.to_thread(list_devices, backend)


async def acount() -> int:
    """count() on a worker thread, so that the event loop keeps running meanwhile."""
    return len(await alist_devices())
