"""The command zorvekcam, or python -m zorvekcam: lists the attached target cameras, or watches them
come and go.

Exit status: 0 when at least one camera is listed (and when --watch is stopped with Ctrl-C or
SIGTERM), 1 when none is attached, 2 for a bad command line, 3 when the system's enumeration of video
devices failed, 4 when the cameras are listed but the modes of one or more could not be read (with
--modes: each such camera is named on standard error, its modes left out of the table and null in the
JSON), 74 when standard output cannot be written (a full disk, say), 130 when a listing is interrupted,
141 when the reader of standard output went away (`... | head`).

With --json --modes each camera's object holds "modes": a list of objects {"format": "MJPG", "width":
1280, "height": 720, "fps": "30000/1001", "sizes": null, "rates": null}, one per mode (see
zorvekcam.Mode): "fps" is exact, numerator/denominator, null where the device tells no rate; "sizes" a
range of sizes {"kind": "stepwise" or "continuous", "min_width", "min_height", "max_width",
"max_height", "step_width", "step_height"} or null; "rates" a range of rates {"kind", "min_fps",
"max_fps", "step_interval"} (fractions as "n/d" text; step_interval in seconds, null when
continuous) or null.
"""

from __future__ import annotations

import argparse
import contextlib
import datetime
import errno
import json
import os
import signal
import sys
from collections.abc import Sequence
from types import FrameType

from . import (
    CAP_DSHOW,
    CAP_MSMF,
    CAP_V4L2,
    Camera,
    CameraError,
    EnumerationError,
    Event,
    Mode,
    Trace,
    __version__,
    list_devices,
    watch,
)
from ._devices import _BACKEND, _BACKENDS

TYPE_CHECKING = False
if TYPE_CHECKING:
    from fractions import Fraction

    from _typeshed import SupportsWrite

EXIT_LISTED = 0
EXIT_NONE_ATTACHED = 1
EXIT_ENUMERATION_FAILED = 3
EXIT_MODES_FAILED = 4
EXIT_WRITE_FAILED = 74  # EX_IOERR
EXIT_INTERRUPTED = 130
EXIT_BROKEN_PIPE = 141  # as a shell reports a process ended by SIGPIPE

TARGET = "USB 2560:C0D6"
# --backend's names, as OpenCV's API preferences (cv2.CAP_MSMF, ...) name them.
BACKENDS = {"msmf": CAP_MSMF, "dshow": CAP_DSHOW, "v4l2": CAP_V4L2}
EPILOG = (
    "Exit status: 0 when at least one camera is listed (and when --watch is stopped with Ctrl-C or "
    "SIGTERM), 1 when none is attached, 2 for a bad command line, 3 when the system's enumeration of video "
    "devices failed, 4 when the modes of a listed camera could not be read (--modes), 74 when standard output "
    "cannot be written, 130 when a listing is interrupted, 141 when the reader of standard output went away."
)

# C0 controls, DEL and C1 controls: a device names itself, and a name holding ESC sequences must not
# clear or retitle the user's terminal, nor a newline split a row. Shown as Python shows them.
_CONTROLS = {code: ascii(chr(code))[1:-1] for code in [*range(0x20), *range(0x7F, 0xA0)]}


def shown(text: str) -> str:
    """`text` with every control character escaped (\\x1b, \\n, \\x9b...): safe on a terminal, one line."""
    return text.translate(_CONTROLS)


class _StdoutFailed(Exception):
    """Standard output could not be written."""

    def __init__(self, error: OSError) -> None:
        super().__init__(error.strerror or str(error))
        self.error = error


def _emit(line: str, flush: bool = False) -> None:
    """Writes one line to standard output; a failure, now or at the flush, is a _StdoutFailed."""
    if sys.stdout is None:
        # Started with standard output closed (`zorvekcam >&-`, as a daemon may be): print() would drop
        # the line without a word. Said as a write to the closed descriptor would fail.
        raise _StdoutFailed(OSError(errno.EBADF, os.strerror(errno.EBADF)))
    try:
        print(line, flush=flush)
    except OSError as error:
        raise _StdoutFailed(error) from error


def _flush() -> None:
    if sys.stdout is None:  # nothing was written, or _emit said so
        return
    try:
        sys.stdout.flush()
    except OSError as error:
        raise _StdoutFailed(error) from error


class _Parser(argparse.ArgumentParser):
    """argparse, but --help and --version keep the command's statuses for standard output: their
    text is written through, and a write that fails is a _StdoutFailed (argparse would drop the
    error, and leave the interpreter to fail at exit with a status of its own)."""

    def _print_message(self, message: str, file: SupportsWrite[str] | None = None) -> None:
        if file is None or file is not sys.stdout or not message:
            super()._print_message(message, file)
            return
        _emit(message.rstrip("\n"), flush=True)


DEFAULT_INTERVAL = 1.0


def _parse(argv: Sequence[str] | None) -> argparse.Namespace:
    # Usage and --version name the command as it was started.
    started_as = os.path.basename(sys.argv[0]) if sys.argv else ""
    parser = _Parser(
        prog="zorvekcam" if started_as.startswith("zorvekcam") else "python -m zorvekcam",
        description=f"Lists the attached cameras of the target model ({TARGET}).",
        epilog=EPILOG,
    )
    parser.add_argument(
        "--json",
        action="store_true",
        help="print JSON on standard output and nothing else (with --watch: one JSON object per event and line)",
    )
    parser.add_argument(
        "--watch",
        action="store_true",
        help="print a line for each camera there (present), then "
        "one each time a camera is plugged in (added) or unplugged (removed), until Ctrl-C",
    )
    parser.add_argument(
        "--interval",
        type=float,
        metavar="SECONDS",
        help="with --watch, where the system gives no device events: seconds between two scans "
        f"(default: {DEFAULT_INTERVAL:g})",
    )
    parser.add_argument(
        "--poll",
        action="store_true",
        help="with --watch: scan every --interval seconds, "
        "device events or not (for a container that the host passes no device events to)",
    )
    parser.add_argument(
        "--backend",
        choices=list(BACKENDS),
        help="the OpenCV backend whose index INDEX gives: "
        "msmf (Media Foundation's, Windows; lists only the cameras it has) or dshow on Windows, v4l2 "
        "on Linux (default: the platform's own)",
    )
    parser.add_argument(
        "--modes",
        action="store_true",
        help="after each camera, the modes it can be opened in "
        "(format, size, frame rate), asked of the device: this opens each camera",
    )
    parser.add_argument("--trace", action="store_true", help="copy the trace text of every scan to standard error")
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    args = parser.parse_args(argv)
    # Accepted without a watch, they would be ignored without a word.
    if not args.watch and (args.interval is not None or args.poll):
        parser.error("--interval and --poll go with --watch")
    if args.interval is None:
        args.interval = DEFAULT_INTERVAL
    if not 0 < args.interval <= 86400:  # also refuses nan and inf, which no timer takes
        parser.error("--interval must be a number of seconds above 0, at most a day")
    if args.backend is not None:
        if BACKENDS[args.backend] not in _BACKENDS:
            here = ", ".join(name for name, value in BACKENDS.items() if value in _BACKENDS)
            parser.error(f"--backend {args.backend}: this platform has no such backend (it has: {here})")
        # A watch's cameras keep the platform's own index.
        if args.watch and BACKENDS[args.backend] != _BACKEND:
            parser.error(f"--backend {args.backend} is for a listing: --watch gives the platform's own index")
    if args.modes and args.watch:
        parser.error("--modes lists the modes of the cameras attached now; it does not go with --watch")
    return args


# What --trace says for a walk that had no video device to walk (none there, or the enumeration
# failed, which is said next): its trace is empty.
NO_DEVICE_TRACE = "zorvekcam: the scan walked no video device: nothing to trace"


class _StderrTrace(Trace):
    """A trace that copies each walk's text to standard error as the walk ends (a watch's walks
    happen inside watch(), where no block can be put around each). A machine without a video device
    has empty walks: that is said once, until a walk has something to trace again."""

    __slots__ = ("_nothing_said",)

    def __init__(self) -> None:
        super().__init__()
        self._nothing_said = False

    def _add(self, text: str) -> None:
        if text:
            print(text, file=sys.stderr, flush=True)
        elif not self._nothing_said:
            print(NO_DEVICE_TRACE, file=sys.stderr, flush=True)
        self._nothing_said = not text


def _scan(show_trace: bool, backend: int | None = None) -> list[Camera]:
    with _StderrTrace() if show_trace else contextlib.nullcontext():
        return list_devices(backend)


def _rate(fps: Fraction) -> str:
    # Exact, with the decimals a person reads where it is no whole number: "30", "30000/1001 (29.970)".
    return str(fps) if fps.denominator == 1 else f"{fps} ({float(fps):.3f})"


def _mode_line(mode: Mode) -> str:
    """One mode for a person: "MJPG  1280x720  30 fps", ranges as ranges."""
    size = f"{mode.width}x{mode.height}"
    if mode.sizes is not None:
        s = mode.sizes
        size = f"{s.min_width}x{s.min_height} - {s.max_width}x{s.max_height}"
        size += " continuous" if s.kind == "continuous" else f" step {s.step_width}x{s.step_height}"
    if mode.fps is None:
        rate = "no rate given"
    elif mode.rates is None:
        rate = f"{_rate(mode.fps)} fps"
    else:
        r = mode.rates
        rate = f"{_rate(r.min_fps)} - {_rate(r.max_fps)} fps"
        rate += " continuous" if r.step_interval is None else f" interval step {r.step_interval} s"
    return shown(f"{mode.format}  {size}  {rate}")


def _table(cameras: Sequence[Camera], modes: Sequence[list[Mode] | None] = ()) -> str:
    headings = ["NAME", "VID", "PID", "INDEX", "SERIAL", "PORT", "NODE", "PATH"]
    rows = [
        [
            shown(c.name) or "-",
            shown(c.vid),
            shown(c.pid),
            str(c.index),
            shown(c.serial or "-"),
            shown(c.port or "-"),
            c.node or "-",
            shown(c.path),
        ]
        for c in cameras
    ]
    if all(c.node is None for c in cameras):  # no platform node to show
        headings.pop(6)
        for row in rows:
            row.pop(6)
    widths = [max(len(row[i]) for row in [headings, *rows]) for i in range(len(headings))]
    lines = ["  ".join(cell.ljust(width) for cell, width in zip(row, widths)).rstrip() for row in [headings, *rows]]
    if modes:  # each camera's modes, indented, under its line; none for one that could not be read
        lines[1:] = [
            text
            for line, listed in zip(lines[1:], modes)
            for text in [
                line,
                *("    " + _mode_line(mode) for mode in listed or ()),
                *(["    no modes reported"] if listed == [] else []),
            ]
        ]
    return "\n".join(lines)


def _modes(cameras: Sequence[Camera]) -> list[list[Mode] | None]:
    """Each camera's modes; None, said on standard error, for a camera whose modes cannot be read."""
    found: list[list[Mode] | None] = []
    for camera in cameras:
        try:
            found.append(camera.modes())
        except CameraError as error:
            where = camera.node or camera.moniker or camera.path
            print(f"zorvekcam: {shown(camera.name) or '-'} ({shown(where)}): {shown(str(error))}", file=sys.stderr)
            found.append(None)
    return found


def _list(args: argparse.Namespace) -> int:
    cameras = _scan(args.trace, BACKENDS.get(args.backend))
    modes = _modes(cameras) if args.modes else []
    if args.json:
        entries: list[dict[str, object]] = [{**c.as_dict()} for c in cameras]
        for entry, listed in zip(entries, modes):
            entry["modes"] = None if listed is None else [m.as_dict() for m in listed]
        _emit(json.dumps(entries, indent=2))
    elif cameras:
        _emit(_table(cameras, modes))
    else:
        _emit(f"none attached ({TARGET})")
    if None in modes:
        return EXIT_MODES_FAILED
    return EXIT_LISTED if cameras else EXIT_NONE_ATTACHED


def _print_event(event: Event, as_json: bool) -> None:
    # Local time, with its offset from UTC, so that a line read elsewhere, or later, is unambiguous.
    stamp = datetime.datetime.now().astimezone().isoformat(timespec="seconds")
    camera = event.camera
    if as_json:
        line = json.dumps({"time": stamp, "event": event.kind, "camera": camera.as_dict()})
    else:
        line = f"{stamp}  {event.kind:<9}  {shown(camera.name) or '-'}  {camera.node or shown(camera.path)}"
        # What tells identical cameras apart, where the platform knows it.
        if camera.serial:
            line += f"  serial {shown(camera.serial)}"
        elif camera.port:
            line += f"  port {shown(camera.port)}"
    _emit(line, flush=True)


class _Stop(Exception):
    """Ctrl-C or SIGTERM: the watch ends, and with it the device events."""


def _watch(args: argparse.Namespace) -> int:
    # A signal ends the watch where it finds it (waiting for device events, or walking: watch() closes
    # what it holds as the exception passes), but never halfway through a line: while one is being
    # written, it only asks for the stop, which comes after the line.
    stopping = writing = False

    def request_stop(_signal: int, _frame: FrameType | None) -> None:
        nonlocal stopping
        stopping = True
        if not writing:
            raise _Stop

    previous = {number: signal.signal(number, request_stop) for number in (signal.SIGINT, signal.SIGTERM)}
    try:
        print(f"watching for {TARGET} cameras; Ctrl-C stops", file=sys.stderr, flush=True)
        with _StderrTrace() if args.trace else contextlib.nullcontext():
            events = watch(args.interval, poll=args.poll)
            try:
                for event in events:
                    writing = True
                    _print_event(event, args.json)
                    writing = False
                    if stopping:
                        break
            except _Stop:
                pass
            finally:
                events.close()
    except _Stop:  # came between two steps above
        pass
    finally:
        for number, handler in previous.items():
            signal.signal(number, handler)
    return EXIT_LISTED


def _silence_stdout() -> None:
    # What is still buffered for standard output can never be written; without this, the
    # interpreter would try again at exit and add a message and a status of its own.
    if sys.stdout is None:
        return
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, sys.stdout.fileno())
    os.close(devnull)


def main(argv: Sequence[str] | None = None) -> int:
    try:
        args = _parse(argv)  # --help and --version write, and exit here
        status = _watch(args) if args.watch else _list(args)
        _flush()  # a write error of buffered output shows here, not at exit
        return status
    except KeyboardInterrupt:
        return EXIT_INTERRUPTED
    except EnumerationError as error:
        print(f"zorvekcam: {error}", file=sys.stderr)
        return EXIT_ENUMERATION_FAILED
    except _StdoutFailed as failed:
        _silence_stdout()
        if isinstance(failed.error, BrokenPipeError):
            return EXIT_BROKEN_PIPE  # the reader went away: nothing to say, and nobody to say it to
        print(f"zorvekcam: cannot write to standard output: {failed}", file=sys.stderr)
        return EXIT_WRITE_FAILED


if __name__ == "__main__":
    sys.exit(main())
