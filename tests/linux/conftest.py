# The fake-device tests need umockdev's preload library in the process from its start, and Debian's
# Python with its GObject bindings: scripts/test_sysfs.sh runs them under umockdev-wrapper. Every
# other pytest run (the virtual environment's, over all of tests/) leaves them to that stage, and
# runs instead the test against this machine's real sysfs, which umockdev would hide.
import os
import shutil
from pathlib import Path

import pytest

# The interpreter the package and the modules were installed into, which the children run.
SHIPPED_PYTHON = os.environ.get("ZORVEK_SHIPPED_PYTHON", str(Path(__file__).resolve().parents[2] / ".venv/bin/python"))

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
else:
    collect_ignore = ["test_listing_answers.py", "test_sysfs_source.py", "test_watch.py"]
