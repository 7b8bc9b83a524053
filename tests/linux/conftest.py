# The fake-device tests need umockdev's preload library in the process from its start, and Debian's
# Python with its GObject bindings: scripts/test_sysfs.sh runs them under umockdev-wrapper. Every
# other pytest run (the virtual environment's, over all of tests/) leaves them to that stage, and
# runs instead the test against this machine's real sysfs, which umockdev would hide.
import json
import os
import queue
import shutil
import signal
import subprocess
import threading
from collections import namedtuple
from pathlib import Path

import pytest

# The interpreter the package and the modules were installed into, which the children run.
SHIPPED_PYTHON = os.environ.get("ZORVEK_SHIPPED_PYTHON", str(Path(__file__).resolve().parents[2] / ".venv/bin/python"))
# Seconds a watch's child may take for a line: seconds, on a loaded machine or under qemu.
PATIENCE = 20
Record = namedtuple("Record", "friendly_name vid pid device_path")


def text(field):
    """A written field's text: every field ends in a terminator within its size."""
    return field[: field.index(b"\0")]


class Child:
    """A child Python run with `args`, whose standard output is read as it comes, a JSON value a line.
    What is tested runs in children: umockdev's ioctl handler needs this process's interpreter lock."""

    def __init__(self, *args, python=SHIPPED_PYTHON):
        self.process = subprocess.Popen(
            [python, *args], stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True
        )
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line)
        self.lines.put(None)  # the child closed its output

    def send(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()

    def line(self, timeout=PATIENCE):
        line = self.lines.get(timeout=timeout)
        assert line is not None, f"the child ended: {self.process.wait()}, {self.process.stderr.read()}"
        return json.loads(line)

    def events(self, count):
        """The next `count` events of a watch, as (kind, node, serial), in the order they came."""

        def fields(event):
            camera = event.get("camera", event)  # the command line's: {"event", "camera"}
            return event.get("kind", event.get("event")), camera["node"], camera["serial"]

        return [fields(self.line()) for _ in range(count)]

    def assert_quiet(self, seconds):
        with pytest.raises(queue.Empty):
            self.lines.get(timeout=seconds)

    def end(self, signal_number=signal.SIGTERM):
        """(exit status, standard error) once a signal has ended it."""
        self.process.send_signal(signal_number)
        try:
            return self.process.wait(timeout=PATIENCE), self.process.stderr.read()
        finally:
            self.kill()

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


class Shipped(Child):
    """The shipped module and package called in a child (zorvek_child.py), a call at a time."""

    def __init__(self, python=SHIPPED_PYTHON, paths=()):
        super().__init__(str(Path(__file__).with_name("zorvek_child.py")), *paths, python=python)

    def ask(self, expression):
        """(the expression's value, what it wrote on standard output)."""
        self.send(expression)
        return tuple(self.line(timeout=300))

    def count(self):
        return self.ask("Zorvek.getDeviceCount(0)")

    def info(self, index):
        (found, fields), trace = self.ask(f"info({index})")
        return found, trace, Record(*map(bytes.fromhex, fields))

    def list(self, expression="listed()"):
        """zorvekcam.list_devices(): each camera's [node, path]; or, given "listed_at_once(T, K)", the
        distinct listings of T threads listing K times each. Neither writes anything."""
        listing, trace = self.ask(expression)
        assert trace == ""
        return listing

    def scanned(self):
        """The path of every target camera getDeviceInfo gives."""
        paths = []
        while (record := self.info(len(paths)))[0]:
            paths.append(text(record[2].device_path).decode())
        return paths

    def close(self):
        self.process.stdin.close()
        try:
            assert self.process.wait(timeout=60) == 0
        finally:
            self.kill()


if "umockdev-preload" in os.environ.get("LD_PRELOAD", ""):
    collect_ignore = ["test_this_machine.py"]

    import fake_v4l2
    from _pytest import runner

    # pytest names the running test in the environment (PYTEST_CURRENT_TEST) at each phase of each
    # test. Adding a variable may move glibc's environment array, which is freed while umockdev's
    # thread may be inside getenv() (GLib calls it as the thread serves ioctls): the session crashed
    # about once in fifty runs. Under the testbed the environment is left alone.
    assert hasattr(runner, "_update_current_test_var"), "pytest no longer sets PYTEST_CURRENT_TEST this way"
    runner._update_current_test_var = lambda item, when: None

    # One testbed for the whole session, shared by every test module (see fake_v4l2).
    @pytest.fixture(scope="session")
    def bench():
        bench = fake_v4l2.Bench(fake_v4l2.OpensCounted())
        yield bench
        bench.unplug_all()

    @pytest.fixture
    def devices(bench):
        bench.queries.reset()
        yield bench
        bench.unplug_all()
        assert bench.queries.errors == []

    # udev's database of the testbed's nodes: scripts/test_sysfs.sh gives the tests a /run of their
    # own, where the machine's udev, whose entries name other devices, writes nothing. Emptied for
    # every test that uses it, and taken away after, as on a machine without udev.
    @pytest.fixture
    def udev_database():
        if os.environ.get("ZORVEK_TEST_PRIVATE_RUN") != "1":
            pytest.skip("no /run of the tests' own (scripts/test_sysfs.sh makes one)")
        shutil.rmtree(fake_v4l2.UDEV_DATA, ignore_errors=True)
        os.makedirs(fake_v4l2.UDEV_DATA)
        yield fake_v4l2.UDEV_DATA
        shutil.rmtree("/run/udev", ignore_errors=True)

    @pytest.fixture
    def shipped(request):
        """A Shipped child of the shipped interpreter; parametrized indirectly with "debian", of
        Debian's own, with the folder the modules were installed into first on its path."""
        if getattr(request, "param", "venv") == "debian":
            code = "import os, Zorvek; print(os.path.dirname(Zorvek.__file__))"
            site = subprocess.run([SHIPPED_PYTHON, "-c", code], capture_output=True, text=True, check=True).stdout
            child = Shipped("/usr/bin/python3", (site.strip(),))
        else:
            child = Shipped()
        yield child
        child.close()

    @pytest.fixture
    def children():
        """Starts Child processes, each killed at the end of the test if it still runs."""
        started = []
        yield lambda *args: started.append(Child(*args)) or started[-1]
        for child in started:
            child.kill()
else:
    collect_ignore = ["test_listing_answers.py", "test_modes_peers.py", "test_sysfs_source.py", "test_watch.py"]
