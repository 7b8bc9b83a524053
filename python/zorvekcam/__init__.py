"""The attached USB cameras of one model (vendor 2560, product C0D6), for Python code.

>>> import zorvekcam
>>> for camera in zorvekcam.list_devices():
...     print(camera.name, camera.node or camera.path)

Every call looks at the devices attached at that moment. Zorvek's trace texts never reach standard
output; `trace()` hands them over for diagnosis.
"""

from importlib import metadata as _metadata

from ._capture import Trace, trace
from ._devices import Camera, count, list_devices

try:
    __version__ = _metadata.version("zorvek")
except _metadata.PackageNotFoundError:  # run from a source tree that was never installed
    __version__ = "0+unknown"

__all__ = ["Camera", "Trace", "count", "list_devices", "trace", "__version__"]
