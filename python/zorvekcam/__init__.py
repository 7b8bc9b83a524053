"""The attached USB cameras of one model (vendor 2560, product C0D6), for Python code.

>>> import zorvekcam
>>> for camera in zorvekcam.list_devices():
...     print(camera.name, camera.node or camera.path, camera.serial or camera.port)

Every call looks at the devices attached at that moment, in one walk, with the interpreter's lock
released. Nothing is written to standard output; `trace()` hands the walk's trace over for diagnosis.

>>> for mode in camera.modes():   # asked of the device when called, never by a listing
...     print(mode.format, mode.width, mode.height, mode.fps)

>>> for event in zorvekcam.watch(timeout=10.0):   # or: async for event in zorvekcam.awatch()
...     print(event.kind, event.camera.name)   # "present", then "added" and "removed"
"""

from ._core import VERSION as __version__
from ._devices import (
    CAP_DSHOW,
    CAP_MSMF,
    CAP_V4L2,
    Camera,
    CameraError,
    EnumerationError,
    Mode,
    RateRange,
    SizeRange,
    Trace,
    acount,
    alist_devices,
    count,
    list_devices,
    trace,
)
from ._watch import Event, Watch, awatch, watch

__all__ = [
    "CAP_DSHOW",
    "CAP_MSMF",
    "CAP_V4L2",
    "Camera",
    "CameraError",
    "EnumerationError",
    "Event",
    "Mode",
    "RateRange",
    "SizeRange",
    "Trace",
    "Watch",
    "acount",
    "alist_devices",
    "awatch",
    "count",
    "list_devices",
    "trace",
    "watch",
    "__version__",
]
