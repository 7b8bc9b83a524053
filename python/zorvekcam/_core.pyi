"""The native core of zorvekcam: one walk over the video input devices"""

VERSION: str

def list_cameras(
    traced: bool = False,
    backend: int = 0,
) -> tuple[
    list[tuple[str, str, str, str, int, str | None, str | None, str | None, str | None]],
    str | None,
    tuple[str, int | None, int | None] | None,
]:
    """(cameras, trace, failure): cameras as (name, vid, pid, path, index, serial, port, node, moniker) tuples; trace the walk's trace text when traced, else None; failure None, or (step, HRESULT, None) when a COM call failed, (step, None, errno) when a system call did. backend 0: the platform's own index; 1400 (Windows only): Media Foundation's, leaving out the cameras it does not list"""

def modes(
    source: str,
) -> tuple[
    list[tuple[str, int, int, int, int, int, int, int, bool, int, int, int, int, int, int, int]], tuple[str, int] | None
]:
    """(modes, failure): the modes of the camera at source (its node on Linux, its moniker on Windows), read with the interpreter's lock released, as (format, sizes, width, height, max_width, max_height, step_width, step_height, has_rate, rates, numerator, denominator, max_numerator, max_denominator, step_numerator, step_denominator) tuples (spans 0 discrete, 1 stepwise, 2 continuous; intervals in seconds per frame); failure None, or (step, errno) on Linux, (step, HRESULT) on Windows, when the device could not be read"""

class Monitor:
    """The platform's device events of video devices; OSError, saying why, where they cannot be had"""

    def __new__(cls, source: str = "") -> Monitor:
        """Linux: source "udev" or "kernel" (libudev's netlink sources); empty: udev's where it runs"""
    def fileno(self) -> int | None:
        """the descriptor that is readable while events wait; None on Windows"""
    def wait(self, timeout: float | None = None) -> bool:
        """whether events came within timeout seconds (None: no limit); the interpreter's lock is released"""
    def drain(self) -> list[tuple[str, str]]:
        """the events waiting, oldest first, as (action, name); never blocks"""
    def close(self) -> None:
        """closes the monitor; a wait in another thread closes it when it returns"""
