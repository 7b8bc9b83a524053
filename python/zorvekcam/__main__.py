"""The command zorvekcam, or python -m zorvekcam: lists the attached target cameras, or watches them
come and go.

Exit status: 0 when at least one camera is listed (and when --watch is stopped with Ctrl-C), 1 when
none is attached, 2 for a bad command line, 130 when a listing is interrupted.
"""

from __future__ import annotations

import argparse
import dataclasses
import json
import os
import signal
import sys
import threading
import time
from collections.abc import Iterator, Sequence
from types import FrameType

from . import Camera, __version__, list_devices, trace

EXIT_LISTED = 0
EXIT_NONE_ATTACHED = 1
EXIT_INTERRUPTED = 130

TARGET = "USB 2560:C0D6"


def _parse(argv: Sequence[str] | None) -> argparse.Namespace:
    # Usage and --version name the command as it was started.
    started_as = os.path.basename(sys.argv[0]) if sys.argv else ""
    parser = argparse.ArgumentParser(
        prog="zorvekcam" if started_as.startswith("zorvekcam") else "python -m zorvekcam",
        description=f"Lists the attached cameras of the target model ({TARGET}).",
        epilog="Exit status: 0 when at least one camera is listed (and when --watch is stopped with "
        "Ctrl-C), 1 when none is attached, 2 for a bad command line, 130 when a listing is interrupted.",
    )
    parser.add_argument("--json", action="store_true", help="print JSON on standard output and nothing else "
                        "(with --watch: one JSON object per event and line)")
    parser.add_argument("--watch", action="store_true", help="keep scanning and print a line each time a "
                        "camera is plugged in or unplugged, until Ctrl-C")
    parser.add_argument("--interval", type=float, default=1.0, metavar="SECONDS",
                        help="seconds between two scans with --watch (default: %(default)s)")
    parser.add_argument("--trace", action="store_true", help="copy the module's raw trace text of every "
                        "scan to standard error")
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    args = parser.parse_args(argv)
    if not 0 < args.interval <= 86400:  # also refuses nan and inf, which no timer takes
        parser.error("--interval must be a number of seconds above 0, at most a day")
    return args


def _scan(show_trace: bool) -> list[Camera]:
    with trace() as captured:
        cameras = list_devices()
    if show_trace:
        print(captured.text, file=sys.stderr, flush=True)
    return cameras


def _as_json(camera: Camera) -> dict[str, str | None]:
    return dataclasses.asdict(camera)


def _table(cameras: Sequence[Camera]) -> str:
    headings = ["NAME", "VID", "PID", "NODE", "PATH"]
    rows = [[c.name or "-", c.vid, c.pid, c.node or "-", c.path] for c in cameras]
    if all(c.node is None for c in cameras):  # no platform node to show
        headings.pop(3)
        for row in rows:
            row.pop(3)
    widths = [max(len(row[i]) for row in [headings, *rows]) for i in range(len(headings))]
    return "\n".join("  ".join(cell.ljust(width) for cell, width in zip(row, widths)).rstrip()
                     for row in [headings, *rows])


def _list(args: argparse.Namespace) -> int:
    cameras = _scan(args.trace)
    if args.json:
        print(json.dumps([_as_json(c) for c in cameras], indent=2))
    elif cameras:
        print(_table(cameras))
    else:
        print(f"none attached ({TARGET})")
    return EXIT_LISTED if cameras else EXIT_NONE_ATTACHED


def _changes(before: dict[str, Camera], after: dict[str, Camera]) -> Iterator[tuple[str, Camera]]:
    # A device is known by its path; one whose name changed under the same path came back anew.
    for path, camera in before.items():
        if after.get(path) != camera:
            yield "unplugged", camera
    for path, camera in after.items():
        if before.get(path) != camera:
            yield "plugged", camera


def _print_event(event: str, camera: Camera, as_json: bool) -> None:
    stamp = time.strftime("%Y-%m-%dT%H:%M:%S")
    if as_json:
        line = json.dumps({"time": stamp, "event": event, "camera": _as_json(camera)})
    else:
        line = f"{stamp}  {event:<9}  {camera.name or '-'}  {camera.node or camera.path}"
    print(line, flush=True)


def _watch(args: argparse.Namespace) -> int:
    # Ctrl-C only asks the loop to stop, so that it never lands in the middle of a call whose
    # output is redirected.
    stop = threading.Event()

    def request_stop(_signal: int, _frame: FrameType | None) -> None:
        stop.set()

    previous = signal.signal(signal.SIGINT, request_stop)
    try:
        print(f"watching for {TARGET} cameras every {args.interval:g} s; Ctrl-C stops", file=sys.stderr)
        known: dict[str, Camera] = {}
        first = True
        while not stop.is_set():
            now = {camera.path: camera for camera in _scan(args.trace)}
            for event, camera in _changes(known, now):
                _print_event("present" if first else event, camera, args.json)
            known, first = now, False
            stop.wait(args.interval)
    finally:
        signal.signal(signal.SIGINT, previous)
    return EXIT_LISTED


def main(argv: Sequence[str] | None = None) -> int:
    args = _parse(argv)
    try:
        return _watch(args) if args.watch else _list(args)
    except KeyboardInterrupt:
        return EXIT_INTERRUPTED
    except BrokenPipeError:
        # The reader went away (`... | head`): what is still buffered goes nowhere, quietly.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        os.close(devnull)
        return EXIT_LISTED


if __name__ == "__main__":
    sys.exit(main())
