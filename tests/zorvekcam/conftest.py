"""The package over scripted devices: the test build's folder (the module tests' scripted.py)
holds the package, its Python files linked from the source tree beside its core built over the
scriptable device source, and Zorvek over the same devices."""

import ctypes
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path[:0] = [str(ROOT / "tests" / "module")]

from scripted import SCRIPTED_DIR, child_env, scripted_devices  # noqa: E402,F401  (a fixture, found by name)

sys.path.insert(0, str(SCRIPTED_DIR))  # zorvekcam, Zorvek and zorvek_records of the test build


def linux_path(vendor: str, product: str, node: str, port: str = "1-2", interface: int = 0) -> str:
    """The device path the Linux source gives `node` of a USB camera with these IDs in `port`, made by
    the source's own builder (in the test build's library) from the node's link in sysfs."""
    link = f"../../devices/pci0000:00/0000:00:14.0/usb1/{port}/{port}:1.{interface}/video4linux/{node}"
    library = ctypes.CDLL(str(SCRIPTED_DIR / "libzorvek_scripted.so"))
    build = library.scripted_linux_device_path
    build.argtypes = [ctypes.c_char_p] * 4 + [ctypes.c_char_p, ctypes.c_int]
    out = ctypes.create_string_buffer(1024)
    size = build(link.encode(), vendor.encode(), product.encode(), node.encode(), out, len(out))
    assert size > 0, (link, vendor, product, node)
    return out.value.decode()


TARGET_A = linux_path("2560", "c0d6", "video0")
TARGET_B = linux_path("2560", "C0D6", "video2", port="1-3")  # IDs as a device may spell them
OTHER = linux_path("046d", "0825", "video4", port="1-4")
