"""Target cameras coming and going, as events: watch() and its asyncio form awatch().

The platform's device events say when something changed: on Linux libudev's monitor of the
video4linux nodes, on Windows the configuration manager's notifications of video capture interfaces.
After each burst of them, one walk (list_devices()) says what, compared with the walk before; while
nothing happens, nothing is walked and no device is opened. Where no device events can be had, a
walk every `interval` seconds stands in, and the watcher says so once, through the logging module.
"""

from __future__ import annotations

import time

from . import _core, _devices
from ._devices import Camera, _Record

# Type names only for the checker, as in _devices.
TYPE_CHECKING = False
if TYPE_CHECKING:
    import threading
    from asyncio import AbstractEventLoop, Future
    from collections.abc import AsyncGenerator, Callable, Generator, Iterable
    from types import TracebackType
    from typing import Literal, TypeVar

    _T = TypeVar("_T")
    EventKind = Literal["present", "added", "removed"]

# One camera brings two nodes or more, each with its events, and a hub full of cameras a stream of
# them: a burst ends when the events have been quiet for QUIET seconds, or after LONGEST_BURST
# seconds at most, and then one walk sees the lot.
QUIET = 0.02
LONGEST_BURST = 0.25
# On Windows, where an event loop cannot watch the notifications, a thread waits for them in slices
# of this many seconds, so that it ends soon after the watcher is cancelled.
_WAIT_SLICE = 0.25

_NOTHING: frozenset[str] = frozenset()

PRESENT: EventKind = "present"
ADDED: EventKind = "added"
REMOVED: EventKind = "removed"
_KINDS = (PRESENT, ADDED, REMOVED)


class Event(_Record):
    """A target camera that was there when watching began (``present``), came (``added``) or went
    (``removed``). A ``removed`` event holds the camera as it was last seen."""

    __slots__ = ("kind", "camera")

    kind: EventKind
    """"present", "added" or "removed"."""
    camera: Camera

    def __init__(self, kind: EventKind, camera: Camera) -> None:
        if kind not in _KINDS:
            raise ValueError(f'an event is "present", "added" or "removed", not {kind!r}')
        self._set(kind=kind, camera=camera)


def _identity(camera: Camera) -> str:
    # What stays with one camera: its serial number, else the port it is plugged into.
    return camera.serial or camera.port or camera.path


def _key(camera: Camera) -> tuple[str, str]:
    # The same camera at the same place: the path tells the port and the node (Linux) or the interface
    # (Windows); the identity tells apart two cameras that took turns at one place.
    return _identity(camera), camera.path


def _named(camera: Camera, names: frozenset[str]) -> bool:
    # An event names a node on Linux ("VIDEO3", the last part of the camera's path), the interface's
    # whole path on Windows. Both are compared upper-cased, as paths are kept.
    return camera.path in names or camera.path.rpartition("\\")[2] in names


def _changes(
    before: Iterable[Camera],
    after: Iterable[Camera],
    touched: frozenset[str] = _NOTHING,
    gone: frozenset[str] = _NOTHING,
) -> tuple[list[Event], list[Camera]]:
    """The events that lead from the cameras `before` to those a walk found `after`, and the cameras
    known then.

    A camera stays, with no event, when a camera of the same identity (serial, else port, else path)
    is at the same path afterwards, and no device event in between removed it (`touched`: the names
    device events removed): one unplugged and plugged in again is ``removed``, then ``added``. Every
    ``removed`` comes before every ``added``. `gone`: the names whose last event removed them; their
    cameras are gone whatever the walk found (a node's removal is announced before sysfs lets go of
    it). Duplicates (cheap cameras that share one serial number) are told apart by their paths.
    """
    before = list(before)
    after = [camera for camera in after if not _named(camera, gone)]
    old = {_key(camera) for camera in before if not _named(camera, touched)}
    new = {_key(camera) for camera in after if not _named(camera, touched)}
    staying = old & new
    events = [Event(REMOVED, camera) for camera in before if _key(camera) not in staying]
    events += [Event(ADDED, camera) for camera in after if _key(camera) not in staying]
    return events, after


def _summary(burst: Iterable[tuple[str, str]]) -> tuple[frozenset[str], frozenset[str]]:
    """(touched, gone) of a burst of (action, name) events, for _changes()."""
    touched: set[str] = set()
    last: dict[str, str] = {}
    for action, name in burst:
        if action in ("add", "remove"):
            name = name.upper()
            last[name] = action
            if action == "remove":
                touched.add(name)
    return frozenset(touched), frozenset(name for name, action in last.items() if action == "remove")


def _checked(interval: float) -> float:
    if not 0 < interval <= 86400:  # also refuses nan and inf, which no timer takes
        raise ValueError(f"interval must be a number of seconds above 0, at most a day, not {interval!r}")
    return interval


def _open_monitor(interval: float, poll: bool) -> _core.Monitor | None:
    """The platform's device events, or None: asked to poll, or, said once, when a watcher has to."""
    if poll:
        return None
    try:
        return _core.Monitor()
    except OSError as error:
        import logging

        logging.getLogger("zorvekcam").warning(
            "no device events (%s): zorvekcam looks for camera changes every %g s instead", error, interval
        )
        return None


def _checked_timeout(timeout: float | None) -> float | None:
    """The seconds a watch may last in all (None, or infinity: no limit)."""
    if timeout is None:
        return None
    if not timeout >= 0:  # also refuses nan
        raise ValueError(f"timeout must be a number of seconds, at least 0, or None, not {timeout!r}")
    return None if timeout == float("inf") else float(timeout)


def watch(interval: float = 1.0, *, poll: bool = False, timeout: float | None = None) -> Watch:
    """The target cameras as events, as they come and go, until the caller stops iterating.

    >>> for event in zorvekcam.watch(timeout=10.0):
    ...     print(event.kind, event.camera.name, event.camera.serial or event.camera.port)

    First a ``present`` event for each camera already attached, then ``added`` and ``removed`` as
    cameras are plugged in and unplugged: after each burst of device events, one walk. `interval`:
    the seconds between two walks where the platform gives no device events (a warning says so once,
    through the logging module). `poll`: walk every `interval` seconds, device events or not (a
    container that the host passes no device events to has a monitor that never wakes). `timeout`:
    the iteration ends once that many seconds have passed since the call (None: it goes on until
    stopped). Breaking out of the loop, or close() from any thread, ends it and closes the device
    events. A failed walk raises EnumerationError and ends the watch.
    """
    interval = _checked(interval)
    ends = _checked_timeout(timeout)
    if ends is not None:
        ends += time.monotonic()
    return Watch(interval, poll, ends)


class Watch:
    """What watch() gives: an iterator of Events, which ends when its time is up or when it is
    closed. close() may be called from any thread: a watch that another thread is waiting in ends
    there at once (that thread's loop ends, and it closes the device events as it leaves), one that
    nobody is iterating ends right away. Also a context manager, which closes it on leaving."""

    __slots__ = ("_events", "_waker", "_lock", "_running", "_closed")

    def __init__(self, interval: float, poll: bool, ends: float | None) -> None:
        import threading

        self._waker = _Waker()
        self._events = _watching(interval, poll, ends, self._waker)
        self._lock = threading.Lock()  # over _running and _closed, and whoever runs the generator
        self._running = False
        self._closed = False

    def __iter__(self) -> Watch:
        return self

    def __next__(self) -> Event:
        with self._lock:
            if self._closed:
                self._events.close()  # suspended at an event, or finished: nothing runs it now
                raise StopIteration
            if self._running:
                raise ValueError("the watch is being iterated on another thread already")
            self._running = True
        try:
            return next(self._events)
        finally:
            with self._lock:
                self._running = False

    def close(self) -> None:
        """Ends the watch, from any thread: see the class."""
        with self._lock:
            self._closed = True
            self._waker.stop()
            if not self._running:
                self._events.close()

    def __enter__(self) -> Watch:
        return self

    def __exit__(
        self, kind: type[BaseException] | None, error: BaseException | None, traceback: TracebackType | None
    ) -> None:
        self.close()


class _Waker:
    """What stops a synchronous watch from another thread: wakes its thread wherever it waits (for
    device events, or between two walks). Its pipe is made at the first wait on a descriptor, and
    closed when the watch ends."""

    __slots__ = ("_stopped", "_lock", "_pipe")

    def __init__(self) -> None:
        import threading

        self._stopped = threading.Event()
        self._lock = threading.Lock()
        self._pipe: tuple[int, int] | None = None

    @property
    def stopped(self) -> bool:
        return self._stopped.is_set()

    def stop(self) -> None:
        import os

        with self._lock:
            self._stopped.set()
            if self._pipe is not None:
                try:
                    os.write(self._pipe[1], b"\0")
                except BlockingIOError:
                    pass  # full of signals' bytes: readable, so the wait is woken all the same

    def sleep(self, seconds: float) -> None:
        """Waits `seconds`, or until stopped."""
        self._stopped.wait(seconds)

    def wait(self, monitor: _core.Monitor, seconds: float | None) -> bool:
        """Whether device events came within `seconds` (None: no limit); False, soon, once stopped."""
        descriptor = monitor.fileno()
        if descriptor is None:
            # Windows: no descriptor to wait on beside the pipe; waits in slices instead, as awatch's
            # thread does.
            ends = None if seconds is None else time.monotonic() + seconds
            while not self.stopped:
                left = _WAIT_SLICE if ends is None else ends - time.monotonic()
                if monitor.wait(max(0.0, min(_WAIT_SLICE, left))):
                    return True
                if ends is not None and left <= _WAIT_SLICE:
                    return False
            return False
        import contextlib
        import os
        import select
        import signal

        with self._lock:
            if self.stopped:
                return False
            if self._pipe is None:
                self._pipe = os.pipe()
                for end in self._pipe:
                    os.set_blocking(end, False)
            woken, wake = self._pipe
        waiting = select.poll()
        waiting.register(descriptor, select.POLLIN)
        waiting.register(woken, select.POLLIN)
        owned = _signals_wake(wake)
        try:
            # poll() takes milliseconds; it is called again for what is left after a signal's handler ran.
            ready = waiting.poll(None if seconds is None else max(0, int(seconds * 1000 + 0.999)))
        finally:
            if owned:
                signal.set_wakeup_fd(-1)
        if any(ready_descriptor == woken for ready_descriptor, _ in ready):
            with contextlib.suppress(BlockingIOError):
                while os.read(woken, 512):  # a signal's bytes; its handler runs as this returns
                    pass
        return any(ready_descriptor == descriptor for ready_descriptor, _ in ready) and not self.stopped

    def release(self) -> None:
        import os

        with self._lock:
            if self._pipe is not None:
                for end in self._pipe:
                    os.close(end)
                self._pipe = None


def _signals_wake(wake: int) -> bool:
    """Whether a signal now writes to `wake` (the waker's pipe), which the caller then gives back.

    A signal's handler runs on the main thread between two steps of its Python code. One that comes
    as the main thread enters poll(), or that another thread catches, interrupts no wait, and its
    handler (Ctrl-C's among them) would wait with the watch: for ever, where the watch has no end.
    The pipe, as the wakeup fd, wakes the wait. Only on the main thread, and only where nobody else
    has a wakeup fd (an asyncio loop's signal handlers read theirs): there, the wait is as before."""
    import signal
    import threading

    if threading.current_thread() is not threading.main_thread():
        return False
    try:
        previous = signal.set_wakeup_fd(wake, warn_on_full_buffer=False)
    except ValueError:  # the main thread of a subinterpreter
        return False
    if previous != -1:
        signal.set_wakeup_fd(previous)
        return False
    return True


def _watching(interval: float, poll: bool, ends: float | None, waker: _Waker) -> Generator[Event, None, None]:
    def left() -> float | None:
        return None if ends is None else max(0.0, ends - time.monotonic())

    monitor = _open_monitor(interval, poll)
    try:
        known = _devices.list_devices()
        for camera in known:
            yield Event(PRESENT, camera)
        while not waker.stopped and left() != 0.0:
            if monitor is None:
                remaining = left()
                waker.sleep(interval if remaining is None else min(interval, remaining))
                if waker.stopped or left() == 0.0:
                    return  # the time ran out, or the watch was closed, while it waited
                touched = gone = _NOTHING
            else:
                burst = _burst(monitor, waker, left)
                if burst is None:
                    return
                touched, gone = _summary(burst)
            events, known = _changes(known, _devices.list_devices(), touched, gone)
            if waker.stopped:
                return
            yield from events
    finally:
        if monitor is not None:
            monitor.close()
        waker.release()


def _burst(monitor: _core.Monitor, waker: _Waker, left: Callable[[], float | None]) -> list[tuple[str, str]] | None:
    """Waits for device events and for the burst they begin to end; what came. None when the watch's
    time ran out, or it was closed, before any came."""
    burst: list[tuple[str, str]] = []
    while not burst:  # a wake-up for another subsystem's event brings none
        remaining = left()
        if waker.stopped or remaining == 0.0:
            return None
        if waker.wait(monitor, remaining):
            burst = monitor.drain()
    # The burst goes on while events come within QUIET of each other; a wake-up that brings none
    # (another subsystem's event) does not prolong it. It ends with the watch's time at the latest.
    now, remaining = time.monotonic(), left()
    ends, settled = now + (LONGEST_BURST if remaining is None else min(LONGEST_BURST, remaining)), now + QUIET
    while (wait := min(ends, settled) - time.monotonic()) > 0 and not waker.stopped:
        if waker.wait(monitor, wait) and (more := monitor.drain()):
            burst += more
            settled = time.monotonic() + QUIET
    return burst


def awatch(interval: float = 1.0, *, poll: bool = False, timeout: float | None = None) -> AsyncGenerator[Event, None]:
    """watch() for asyncio: ``async for event in zorvekcam.awatch(): ...``

    The event loop watches the device events' descriptor itself, and each walk runs on a thread of its
    own, so the loop keeps running meanwhile. Cancelling the task, or leaving the loop, closes the
    device events and leaves no thread behind (a walk that is under way is waited for: milliseconds).
    `timeout`: as watch()'s, the iteration ends once that many seconds have passed since the call;
    ``asyncio.timeout()`` around the loop does the same by cancelling it.
    """
    interval = _checked(interval)
    ends = _checked_timeout(timeout)
    return _awatching(interval, poll, None if ends is None else time.monotonic() + ends)


async def _awatching(interval: float, poll: bool, ends: float | None) -> AsyncGenerator[Event, None]:
    import asyncio

    def left() -> float | None:
        return None if ends is None else max(0.0, ends - time.monotonic())

    loop = asyncio.get_running_loop()
    monitor = _open_monitor(interval, poll)
    try:
        known = await _off_loop(loop, _devices.list_devices)
        for camera in known:
            yield Event(PRESENT, camera)
        while left() != 0.0:
            if monitor is None:
                remaining = left()
                await asyncio.sleep(interval if remaining is None else min(interval, remaining))
                if left() == 0.0:
                    return
                touched = gone = _NOTHING
            else:
                burst = await _aburst(loop, monitor, left)
                if burst is None:
                    return
                touched, gone = _summary(burst)
            events, known = _changes(known, await _off_loop(loop, _devices.list_devices), touched, gone)
            for event in events:
                yield event
    finally:
        if monitor is not None:
            monitor.close()


async def _aburst(
    loop: AbstractEventLoop, monitor: _core.Monitor, left: Callable[[], float | None]
) -> list[tuple[str, str]] | None:
    burst: list[tuple[str, str]] = []
    while not burst:
        remaining = left()
        if remaining == 0.0:
            return None
        if await _readable(loop, monitor, remaining):
            burst = monitor.drain()
    now, remaining = loop.time(), left()
    ends, settled = now + (LONGEST_BURST if remaining is None else min(LONGEST_BURST, remaining)), now + QUIET
    while (wait := min(ends, settled) - loop.time()) > 0:
        if await _readable(loop, monitor, wait) and (more := monitor.drain()):
            burst += more
            settled = loop.time() + QUIET
    return burst


def _settle(future: Future[_T], value: _T) -> None:
    if not future.done():
        future.set_result(value)


async def _readable(loop: AbstractEventLoop, monitor: _core.Monitor, timeout: float | None) -> bool:
    """Whether device events came within `timeout` seconds (None: no limit)."""
    descriptor = monitor.fileno()
    if descriptor is None:
        return await _wait_in_slices(loop, monitor, timeout)
    ready: Future[bool] = loop.create_future()
    loop.add_reader(descriptor, _settle, ready, True)
    timer = None if timeout is None else loop.call_later(timeout, _settle, ready, False)
    try:
        return await ready
    finally:
        # The reader goes as soon as it has fired: while a walk runs, events that come need no
        # callback, and a descriptor that stays readable would call one on every turn of the loop.
        loop.remove_reader(descriptor)
        if timer is not None:
            timer.cancel()


async def _wait_in_slices(loop: AbstractEventLoop, monitor: _core.Monitor, timeout: float | None) -> bool:
    # Where the loop has no descriptor to watch (Windows), one thread waits, in slices, so that it
    # sees soon after a cancellation that it is to stop.
    import threading

    stop = threading.Event()

    def wait() -> bool:
        ends = None if timeout is None else time.monotonic() + timeout
        while not stop.is_set():
            left = _WAIT_SLICE if ends is None else ends - time.monotonic()
            if monitor.wait(max(0.0, min(_WAIT_SLICE, left))):
                return True
            if left <= _WAIT_SLICE and ends is not None:
                return False
        return False

    return await _off_loop(loop, wait, stop=stop)


async def _off_loop(
    loop: AbstractEventLoop, function: Callable[..., _T], *args: object, stop: threading.Event | None = None
) -> _T:
    """function(*args) on a thread of its own, in this context (for trace()). The thread has ended
    when this returns, cancelled or not (`stop` is set first, for a function that looks at it):
    asyncio's default executor would keep its threads."""
    import contextvars
    import threading

    done: Future[_T] = loop.create_future()
    context = contextvars.copy_context()

    def run() -> None:
        try:
            result = context.run(function, *args)
        except BaseException as error:  # handed to the awaiting task, whatever it is
            loop.call_soon_threadsafe(_fail, done, error)
        else:
            loop.call_soon_threadsafe(_settle, done, result)

    thread = threading.Thread(target=run, name="zorvekcam-walk", daemon=True)
    thread.start()
    try:
        return await done
    finally:
        if stop is not None:
            stop.set()
        thread.join()


def _fail(future: Future[_T], error: BaseException) -> None:
    if not future.done():
        future.set_exception(error)
