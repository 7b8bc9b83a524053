"""The Windows watch on its own event path: the configuration manager's device notifications, given by
the tests' own cfgmgr32.dll (tests/windows/cfgmgr32_standin), which scripts/test_windows.sh puts into
the prefix's system32 and loads with WINEDLLOVERRIDES=cfgmgr32=n,b for this file alone. The tests
write devices into the registry as test_windows_python.py does, and announce them through the
stand-in, which calls the watch's callback on a thread of its own and logs every call."""

import asyncio
import ctypes
import json
import logging
import os
import queue
import re
import subprocess
import sys
import threading
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))
from standin_notices import CAPTURE, PATIENCE, Standin  # noqa: E402
from test_windows_python import Device, other_path, plug, target_path, unplug  # noqa: E402

import spawn  # noqa: E402  (tests/support, which test_windows_python puts on the path)

import zorvekcam  # noqa: E402
import zorvekcam._devices  # noqa: E402

# A run with the stand-in loaded (ZORVEK_TEST_CFGMGR32=1), or one with Wine's own cfgmgr32.dll, as the
# stage's other tests have it: a process's load order comes from the Wine environment it starts in,
# whatever a child is given, so each run checks its own.
with_standin = os.environ.get("ZORVEK_TEST_CFGMGR32") == "1"
needs_standin = pytest.mark.skipif(
    not with_standin,
    reason="needs the tests' cfgmgr32.dll loaded (scripts/test_windows.sh runs this file a second time with it)",
)


@pytest.fixture
def standin(tmp_path):
    folder = tmp_path / "cfgmgr32"
    folder.mkdir()
    saved = os.environ.get("ZORVEK_CFGMGR_DIR")
    os.environ["ZORVEK_CFGMGR_DIR"] = str(folder)
    unplug()
    yield Standin(folder)
    unplug()
    if saved is None:
        del os.environ["ZORVEK_CFGMGR_DIR"]
    else:
        os.environ["ZORVEK_CFGMGR_DIR"] = saved


def within(call, *args):
    """call(*args), failing the test if it has not returned after PATIENCE seconds (a watch that misses
    a notice waits for ever)."""
    done: queue.Queue = queue.Queue()

    def run():
        try:
            done.put((True, call(*args)))
        except BaseException as error:  # noqa: BLE001 - handed to the test
            done.put((False, error))

    thread = threading.Thread(target=run, daemon=True)
    thread.start()
    try:
        ok, value = done.get(timeout=PATIENCE)
    except queue.Empty:
        pytest.fail(f"{getattr(call, '__name__', call)} gave nothing within {PATIENCE} s")
    thread.join()  # it has handed its result over: gone at once, and not counted as one a watch left
    if not ok:
        raise value
    return value


class SyncWatch:
    def __init__(self):
        self.events = zorvekcam.watch()

    def next(self):
        return within(next, self.events)

    def close(self):
        self.events.close()


class AsyncWatch:
    """awatch() driven from the test's thread: its own event loop runs on a thread of the test's."""

    def __init__(self):
        self.loop = asyncio.new_event_loop()
        self.thread = threading.Thread(target=self.loop.run_forever, name="test-loop", daemon=True)
        self.thread.start()
        self.events = zorvekcam.awatch()

    def run(self, coroutine):
        return asyncio.run_coroutine_threadsafe(coroutine, self.loop).result(PATIENCE)

    def next(self):
        return self.run(self.events.__anext__())

    def close(self):
        try:
            self.run(self.events.aclose())
        finally:
            self.loop.call_soon_threadsafe(self.loop.stop)
            self.thread.join()
            self.loop.close()


def kinds(events) -> list[tuple[str, str]]:
    return [(event.kind, event.camera.name) for event in events]


def calls_of(standin: Standin, handle: str) -> list[str]:
    return [what for what in standin.what() if what.split(" ")[1:2] == [handle]]


@needs_standin
@pytest.mark.parametrize("Watch", [SyncWatch, AsyncWatch], ids=["watch", "awatch"])
def test_cameras_announced_come_out_once_each_through_the_notifications(standin, caplog, Watch):
    plug(Device(target_path(0), "Cam A"))
    before = set(threading.enumerate())
    caplog.set_level(logging.WARNING, logger="zorvekcam")
    watcher = Watch()
    events = [watcher.next()]
    try:
        # One registration, for the video capture interfaces, and no word of polling.
        assert [what for _, _, what in standin.registrations()] == [CAPTURE]
        assert caplog.records == []
        # A burst of notices for one camera, all delivered before the watch looks (Python busy
        # elsewhere meanwhile): one event.
        plug(Device(target_path(1), "Cam B"), first=1)
        standin.announce(*[f"arrival {target_path(1)}"] * 5)
        standin.delivered(5)
        events.append(watcher.next())
        # A camera of another model, announced: no event; the removal announced next is what comes.
        plug(Device(other_path(0), "Other"), first=2)
        standin.announce(f"arrival {other_path(0)}")
        standin.delivered(6)
        unplug("ZorvekTestDevice001")
        standin.announce(f"removal {target_path(1)}")
        events.append(watcher.next())
        # The same camera back, then gone again, in one burst of notices: it left and came back.
        standin.announce(f"removal {target_path(0)}", "pause 5", f"arrival {target_path(0)}")
        events += [watcher.next(), watcher.next()]
        unplug("ZorvekTestDevice000")
        standin.announce(f"removal {target_path(0)}")
        events.append(watcher.next())
    finally:
        watcher.close()
    assert kinds(events) == [
        ("present", "Cam A"),
        ("added", "Cam B"),
        ("removed", "Cam B"),
        ("removed", "Cam A"),
        ("added", "Cam A"),
        ("removed", "Cam A"),
    ]
    [(_, handle, _)] = standin.registrations()
    # Closed: unregistered, the stand-in's thread gone with its last registration, none of ours left.
    standin.wait_for(lambda log: log[-1][3:] == ["thread", "end"], "its thread ending")
    assert f"unregister {handle}" in standin.what()
    assert set(threading.enumerate()) - before == set()
    assert caplog.records == []


@needs_standin
@pytest.mark.parametrize("Watch", [SyncWatch, AsyncWatch], ids=["watch", "awatch"])
def test_a_notice_that_comes_while_the_watch_walks_is_kept_for_the_next_walk(standin, monkeypatch, Watch):
    plug(Device(target_path(0), "Cam A"))
    walk = zorvekcam._devices.list_devices
    walks = []

    def walk_then_announce():
        # After the walk that follows the first notice has read the devices, and before the watch
        # looks at the notices again, another camera arrives and is announced.
        found = walk()
        walks.append(len(found))
        if len(walks) == 2:
            plug(Device(target_path(1), "Cam B"), first=1)
            standin.announce(f"arrival {target_path(1)}")
            standin.delivered(2)
        return found

    monkeypatch.setattr(zorvekcam._devices, "list_devices", walk_then_announce)
    watcher = Watch()
    try:
        events = [watcher.next()]
        unplug("ZorvekTestDevice000")
        standin.announce(f"removal {target_path(0)}")
        events += [watcher.next(), watcher.next()]
    finally:
        watcher.close()
    assert kinds(events) == [("present", "Cam A"), ("removed", "Cam A"), ("added", "Cam B")]
    assert walks == [1, 0, 1]


class Stop:
    """The ways out of a watch that has registered, each after its first event."""

    @staticmethod
    def breaking():
        for _ in zorvekcam.watch():
            break

    @staticmethod
    def closing():
        events = zorvekcam.watch()
        next(events)
        events.close()

    @staticmethod
    def cancelling():
        async def main():
            first = asyncio.Event()

            async def consume():
                async for _ in zorvekcam.awatch():
                    first.set()

            task = asyncio.create_task(consume())
            await asyncio.wait_for(first.wait(), PATIENCE)
            task.cancel()
            with pytest.raises(asyncio.CancelledError):
                await task

        asyncio.run(main())


@needs_standin
@pytest.mark.parametrize("stop", [Stop.breaking, Stop.closing, Stop.cancelling], ids=lambda s: s.__name__)
def test_every_way_out_of_a_watch_unregisters_and_leaves_no_thread(standin, stop):
    plug(Device(target_path(0), "Cam A"))
    before = set(threading.enumerate())
    within(stop)
    # The log as it is when the way out has returned: unregistered by then, not later by a collector.
    what = standin.what(os.getpid())
    handles = [line.split(" ")[1] for line in what if line.startswith("register ")]
    assert len(handles) == 1, what
    assert f"unregister {handles[0]}" in what
    standin.wait_for(lambda log: log[-1][3:] == ["thread", "end"], "its thread ending")
    assert set(threading.enumerate()) - before == set()


@needs_standin
def test_notices_that_come_while_the_watch_closes_call_nothing_after_it_unregistered(standin):
    plug(Device(target_path(0), "Cam A"))
    watcher = SyncWatch()
    watcher.next()
    # Notices every few milliseconds, for longer than the close takes.
    plug(Device(target_path(1), "Cam B"), first=1)
    standin.announce(*[line for _ in range(500) for line in (f"arrival {target_path(1)}", "pause 4")])
    standin.delivered(3)
    watcher.close()
    standin.wait_for(
        lambda log: any(line[3] == "claimed" for line in log) and log[-1][3:] == ["thread", "end"],
        "the notices all handed out and its thread ending",
    )
    what = standin.what()
    handle = next(line.split(" ")[1] for line in what if line.startswith("register "))
    closed = what.index(f"unregister {handle}")
    # Every call was over before the unregistering returned, and none came after it.
    calls = calls_of(standin, handle)
    assert [c.split(" ")[0] for c in calls] == ["register"] + ["call", "returned"] * (len(calls) // 2 - 1) + [
        "unregister"
    ]
    assert all(not w.startswith("call ") for w in what[closed:])
    assert any(w.startswith("undelivered arrival") for w in what[closed:])
    # What arrived meanwhile is there for the next watch.
    again = SyncWatch()
    try:
        assert kinds([again.next(), again.next()]) == [("present", "Cam A"), ("present", "Cam B")]
    finally:
        again.close()


def test_a_watch_polls_and_says_so_exactly_where_cfgmgr32_has_no_notifications(standin, caplog):
    # Wine's own in the stage's other run, which its other watch tests need; the stand-in in this one.
    assert hasattr(ctypes.WinDLL("cfgmgr32"), "CM_Register_Notification") == with_standin
    plug(Device(target_path(0), "Cam A"))
    caplog.set_level(logging.WARNING, logger="zorvekcam")
    events = zorvekcam.watch(interval=0.2)
    try:
        assert within(next, events).kind == "present"
        plug(Device(target_path(1), "Cam B"), first=1)
        if with_standin:
            standin.announce(f"arrival {target_path(1)}")
        assert within(next, events).kind == "added"
    finally:
        events.close()
    warnings = [record.getMessage() for record in caplog.records]
    if with_standin:
        assert warnings == []
        steps = [what.split(" ")[0] for what in standin.what(os.getpid())]
        assert [step for step in steps if step in ("register", "call", "returned", "unregister")] == [
            "register",
            "call",
            "returned",
            "unregister",
        ]
    else:
        assert len(warnings) == 1 and warnings[0].startswith(
            "no device events (cfgmgr32.dll has no CM_Register_Notification"
        ), warnings
        assert standin.log() == []


@needs_standin
@pytest.mark.parametrize("as_json", [False, True], ids=["table", "json"])
def test_the_commands_watch_shows_the_announced_cameras(standin, as_json):
    plug(Device(target_path(0), "Cam A"))
    child = spawn.popen(
        [sys.executable, "-m", "zorvekcam", "--watch", *(["--json"] if as_json else [])],
        stdin=subprocess.DEVNULL,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
    )
    lines: queue.Queue = queue.Queue()
    threading.Thread(target=lambda: [lines.put(line) for line in child.stdout], daemon=True).start()

    def line():
        try:
            return lines.get(timeout=PATIENCE)
        except queue.Empty:
            pytest.fail(f"zorvekcam --watch printed nothing within {PATIENCE} s")

    try:
        shown = [line()]
        plug(Device(target_path(1), "Cam B"), first=1)
        standin.announce(f"arrival {target_path(1)}", f"arrival {target_path(1)}")
        shown.append(line())
        unplug("ZorvekTestDevice001")
        standin.announce(f"removal {target_path(1)}")
        shown.append(line())
    finally:
        child.kill()
        _, err = child.communicate(timeout=PATIENCE)
    expected = [
        ("present", "Cam A", target_path(0, "upper")),
        ("added", "Cam B", target_path(1, "upper")),
        ("removed", "Cam B", target_path(1, "upper")),
    ]
    if as_json:
        records = [json.loads(text) for text in shown]
        assert [(r["event"], r["camera"]["name"], r["camera"]["path"]) for r in records] == expected
    else:
        # A time, then the kind, the name and the path, in that order.
        for text, (kind, name, path) in zip(shown, expected):
            assert re.search(rf" {kind} +{name}  .*{re.escape(path)}", text), (text, kind)
    assert "no device events" not in err
    assert [(process, what) for process, _, what in standin.registrations()] == [(str(child.pid), CAPTURE)]
