# The fake-device tests need umockdev's preload library in the process from its start, and Debian's
# Python with its GObject bindings: scripts/test_sysfs.sh runs them under umockdev-wrapper. Every
# other pytest run (the virtual environment's, over all of tests/) leaves them to that stage, and
# runs instead the test against this machine's real sysfs, which umockdev would hide.
import os

if "umockdev-preload" in os.environ.get("LD_PRELOAD", ""):
    collect_ignore = ["test_this_machine.py"]
else:
    collect_ignore = ["test_sysfs_source.py"]
