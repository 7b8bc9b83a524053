import sys

from cam_devices import PACKAGE_DIR, SCRIPTED_DIR

# The package from the source tree, over the test build of Zorvek.
for directory in (SCRIPTED_DIR, PACKAGE_DIR):
    sys.path.insert(0, str(directory))
