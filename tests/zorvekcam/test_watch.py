"""watch() and awatch() over scripted devices: how two walks become events, and what a watch
leaves behind when it is left. (Device events themselves: tests/linux/test_watch.py, under umockdev;
the polling fallback: test_cli.py.)"""

import asyncio
import os
import signal
import threading
import time
from types import SimpleNamespace

import pytest

from conftest import TARGET_A, TARGET_B, linux_path
from scripted import Device

import zorvekcam
from zorvekcam import CAP_V4L2, Camera, Event
from zorvekcam import _core
from zorvekcam._watch import _changes, _readable, _summary


def camera(node, serial=None, port=None):
    path = linux_path("2560", "c0d6", node).upper()
    return Camera("Cam", "2560", "C0D6", path, f"/dev/{node}", int(node[5:]), CAP_V4L2, serial, port)


def removed(*cameras):
    return [Event("removed", c) for c in cameras]


def added(*cameras):
    return [Event("added", c) for c in cameras]


def test_a_camera_stays_while_its_identity_stays_at_its_place_and_no_event_removed_it():
    a, b, c = camera("video0", "SN-A", "1-1"), camera("video2", None, "1-2"), camera("video4", "SN-C", "1-3")
    assert _changes([a, b], [a, b]) == ([], [a, b])
    # Every removal comes before every addition.
    assert _changes([a, b], [c, a]) == (removed(b) + added(c), [c, a])
    # The walks agree, but a device event removed its node in between: unplugged and plugged in again.
    assert _changes([a, b], [a, b], touched=frozenset({"VIDEO0"})) == (removed(a) + added(a), [a, b])
    # On Windows an event names the interface's whole path.
    assert _changes([a], [a], touched=frozenset({a.path})) == (removed(a) + added(a), [a])
    # Another camera in the same socket, at the same node; the same camera moved to another socket.
    stranger, moved = camera("video0", "SN-Z", "1-1"), camera("video6", "SN-A", "2-1")
    assert _changes([a], [stranger])[0] == removed(a) + added(stranger)
    assert _changes([a], [moved])[0] == removed(a) + added(moved)
    # Removed for good, though the walk still found it (sysfs lets go after the event): gone.
    assert _changes([a, b], [a, b], touched=frozenset({"VIDEO2"}), gone=frozenset({"VIDEO2"})) == (removed(b), [a])
    # Cheap cameras that share a serial number are told apart by where they are.
    twin1, twin2 = camera("video0", "0001", "1-1"), camera("video2", "0001", "1-2")
    assert _changes([twin1, twin2], [twin2]) == (removed(twin1), [twin2])
    assert _changes([twin2], [twin1, twin2]) == (added(twin1), [twin1, twin2])


def test_a_burst_touches_every_name_it_removed_and_leaves_gone_those_it_removed_last():
    assert _summary([("add", "video0"), ("add", "video1")]) == (frozenset(), frozenset())
    replugged = [("remove", "video0"), ("remove", "video1"), ("add", "video0"), ("add", "video1")]
    assert _summary(replugged) == (frozenset({"VIDEO0", "VIDEO1"}), frozenset())
    assert _summary([("add", "video3"), ("remove", "video3"), ("change", "video3"), ("lost", "")]) == (
        frozenset({"VIDEO3"}),
        frozenset({"VIDEO3"}),
    )


@pytest.mark.parametrize("interval", [0, -1, float("nan"), float("inf"), 86401])
def test_an_interval_no_timer_takes_is_refused_at_the_call(interval):
    for start in (zorvekcam.watch, zorvekcam.awatch):
        with pytest.raises(ValueError):
            start(interval)


def descriptors():
    return len(os.listdir("/proc/self/fd"))


def test_leaving_either_watch_closes_its_device_events_and_leaves_no_thread(scripted_devices):
    scripted_devices.attach(Device(TARGET_A, "Cam A"))
    present = Event("present", zorvekcam.list_devices()[0])
    before = descriptors(), threading.active_count()
    for event in zorvekcam.watch():
        watching = descriptors()
        break
    assert event == present and (descriptors(), threading.active_count()) == before
    # This machine has libudev: the watch had its descriptor, which leaving it closed.
    assert watching == before[0] + 1

    async def leave_at_once():
        inside = descriptors(), threading.active_count()  # the loop has descriptors of its own
        async for event in zorvekcam.awatch():
            watching = descriptors()
            break
        await asyncio.sleep(0.01)  # leaving an `async for` closes the generator on the loop's next turn
        return event, watching - inside[0], (descriptors(), threading.active_count()) == inside

    assert asyncio.run(leave_at_once()) == (present, 1, True)


def test_without_a_descriptor_awatch_waits_on_one_thread_that_a_cancellation_ends():
    # A monitor with no descriptor for the loop to watch, as on Windows: its events come when `ready` is set.
    ready = threading.Event()
    monitor = SimpleNamespace(fileno=lambda: None, wait=ready.wait)

    async def scenario():
        loop = asyncio.get_running_loop()
        threads = threading.active_count()
        assert await _readable(loop, monitor, 0.3) is False  # longer than a slice: waited out whole
        loop.call_later(0.3, ready.set)
        assert await _readable(loop, monitor, None) is True
        ready.clear()
        waiting = asyncio.create_task(_readable(loop, monitor, None))
        await asyncio.sleep(0.3)
        during = threading.active_count()
        waiting.cancel()
        with pytest.raises(asyncio.CancelledError):
            await waiting
        return during - threads, threading.active_count() - threads

    assert asyncio.run(scenario()) == (1, 0)


def test_asked_to_poll_a_watch_opens_no_device_events_and_walks_every_interval(scripted_devices, monkeypatch):
    monkeypatch.delattr(_core, "Monitor")  # a polling watch that opened device events would fail
    scripted_devices.attach(Device(TARGET_A, "Cam A", first_walk=3))
    events = zorvekcam.watch(0.01, poll=True)
    try:
        event = next(events)
    finally:
        events.close()
    assert (event.kind, event.camera.name, scripted_devices.walks()) == ("added", "Cam A", 4)


def test_a_monitor_refuses_a_timeout_no_wait_takes_and_every_use_once_closed():
    with pytest.raises(OSError, match="nowhere"):
        _core.Monitor("nowhere")
    monitor = _core.Monitor()
    # Nothing plugged in here meanwhile: no events.
    assert isinstance(monitor.fileno(), int) and monitor.wait(timeout=0) is False and monitor.drain() == []
    for timeout in (-1, float("nan")):
        with pytest.raises(ValueError, match="at least 0"):
            monitor.wait(timeout)
    with pytest.raises(TypeError):
        monitor.wait("1")
    monitor.close()
    monitor.close()
    for call in (monitor.fileno, monitor.wait, monitor.drain):
        with pytest.raises(ValueError, match="the monitor is closed"):
            call()


@pytest.mark.parametrize("kind", ["bogus", "", "Present", None])
def test_an_event_of_no_known_kind_is_refused(kind):
    with pytest.raises(ValueError, match="present"):
        Event(kind, camera("video0"))


@pytest.mark.parametrize("timeout", [-1, float("nan")])
def test_a_timeout_no_wait_takes_is_refused_at_the_call(timeout):
    for start in (zorvekcam.watch, zorvekcam.awatch):
        with pytest.raises(ValueError, match="timeout"):
            start(timeout=timeout)


def ended(iterate, patience=60):
    """Runs `iterate` on a thread of its own; what it returned, once it has (a hang fails the test)."""
    result = []
    thread = threading.Thread(target=lambda: result.append(iterate()), daemon=True)
    thread.start()
    thread.join(patience)
    assert not thread.is_alive(), "the watch did not end"
    return result[0]


@pytest.mark.parametrize("poll", [False, True])
def test_a_watch_with_a_timeout_gives_its_events_then_ends_and_closes_what_it_held(scripted_devices, poll):
    scripted_devices.attach(Device(TARGET_A, "Cam A"))
    before = descriptors(), threading.active_count()
    events = ended(lambda: list(zorvekcam.watch(0.05, poll=poll, timeout=0.3)))
    assert [(e.kind, e.camera.name) for e in events] == [("present", "Cam A")]
    assert (descriptors(), threading.active_count()) == before
    # Polling, the walks went on until the time was up.
    assert scripted_devices.walks() > 1 if poll else scripted_devices.walks() == 1


@pytest.mark.parametrize("poll", [False, True])
def test_close_from_another_thread_ends_a_waiting_watch(scripted_devices, poll):
    scripted_devices.attach(Device(TARGET_A, "Cam A"))
    before = descriptors(), threading.active_count()
    watcher = zorvekcam.watch(3600, poll=poll)
    seen = []

    def iterate():
        for event in watcher:
            seen.append(event.kind)
            waiting.set()  # then the watch waits: for device events, or an hour between walks
        return "ended"

    waiting = threading.Event()
    thread = threading.Thread(target=lambda: seen.append(iterate()), daemon=True)
    thread.start()
    assert waiting.wait(60)
    time.sleep(0.2)  # not needed for the outcome: lets the iterating thread reach its wait first
    watcher.close()
    thread.join(60)
    assert not thread.is_alive() and seen == ["present", "ended"]
    assert (descriptors(), threading.active_count()) == before
    watcher.close()  # again: nothing left to do
    assert list(watcher) == []


def test_close_on_the_iterating_thread_between_events_ends_the_watch_there(scripted_devices):
    scripted_devices.attach(Device(TARGET_A, "Cam A"), Device(TARGET_B, "Cam B"))
    before = descriptors()
    with zorvekcam.watch() as watcher:
        assert next(watcher).camera.name == "Cam A"
    assert descriptors() == before and list(watcher) == []


class Interrupted(Exception):
    pass


def test_a_signal_that_interrupts_no_wait_still_ends_a_watch_waiting_on_the_main_thread(scripted_devices, monkeypatch):
    # Caught on another thread, as one that comes while the main thread enters its wait is caught
    # before the wait: the main thread's poll() is not interrupted, and the handler (Ctrl-C's in the
    # command) would run only when the wait ends, here after half a minute.
    quiet = os.pipe()  # the device events, which never come
    monitor = SimpleNamespace(fileno=lambda: quiet[0], drain=list, close=lambda: None)
    monkeypatch.setattr(_core, "Monitor", lambda: monitor)
    scripted_devices.attach(Device(TARGET_A, "Cam A"))

    def interrupted(_signal, _frame):
        raise Interrupted

    previous = signal.signal(signal.SIGUSR1, interrupted)
    sender = threading.Timer(0.3, lambda: signal.pthread_kill(threading.get_ident(), signal.SIGUSR1))
    try:
        watcher = zorvekcam.watch(timeout=30)
        assert next(watcher).kind == "present"
        sender.start()
        began = time.monotonic()
        with pytest.raises(Interrupted):
            next(watcher)
        assert time.monotonic() - began < 15, "the handler ran only when the watch's wait ended"
        # The watch gave the wakeup fd back, and closed its pipe.
        assert signal.set_wakeup_fd(-1) == -1 and list(watcher) == []
    finally:
        sender.join()
        signal.signal(signal.SIGUSR1, previous)
        for end in quiet:
            os.close(end)


def test_awatch_with_a_timeout_gives_its_events_then_ends(scripted_devices):
    scripted_devices.attach(Device(TARGET_A, "Cam A"))

    async def gather():
        return [event async for event in zorvekcam.awatch(0.05, timeout=0.3)]

    events = ended(lambda: asyncio.run(gather()))
    assert [(e.kind, e.camera.name) for e in events] == [("present", "Cam A")]


def test_without_a_descriptor_a_watch_waits_in_slices_that_a_close_from_another_thread_ends(
    scripted_devices, monkeypatch
):
    # A monitor with no descriptor to wait on beside the waker's pipe, as on Windows: its waits come back
    # empty, a slice at a time, and its events never come.
    waits, closed = [], []
    monitor = SimpleNamespace(
        fileno=lambda: None,
        wait=lambda timeout: waits.append(timeout) or time.sleep(timeout),
        drain=list,
        close=lambda: closed.append(True),
    )
    monkeypatch.setattr(_core, "Monitor", lambda: monitor)
    scripted_devices.attach(Device(TARGET_A, "Cam A"))
    watcher = zorvekcam.watch()
    assert next(watcher).kind == "present"
    stopper = threading.Timer(0.6, watcher.close)
    stopper.start()
    assert ended(lambda: list(watcher)) == [] and closed == [True]
    stopper.join()
    # It waited, in slices no longer than a quarter of a second.
    assert waits and all(0 <= wait <= 0.25 for wait in waits)
    # With a timeout, the last slice is what is left of it.
    waits.clear()
    assert [e.kind for e in ended(lambda: list(zorvekcam.watch(timeout=0.4)))] == ["present"]
    assert waits and all(0 <= wait <= 0.25 for wait in waits)
