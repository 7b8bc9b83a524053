"""The native core of zorvekcam: one walk over the video input devices"""

VERSION: str

def list_cameras(
    traced: bool = False,
) -> tuple[
    list[tuple[str, str, str, str, int, str | None, str | None]], str | None, tuple[str, int | None, int | None] | None
]:
    """(cameras, trace, failure): cameras as (name, vid, pid, path, index, serial, port) tuples; trace the walk's trace text when traced, else None; failure None, or (step, HRESULT, None) when a COM call failed, (step, None, errno) when a system call did"""

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
