"""The native core of zorvekcam: one walk over the video input devices"""

VERSION: str

def list_cameras(
    traced: bool = False,
) -> tuple[list[tuple[str, str, str, str, int, str | None, str | None]], str | None, tuple[str, int] | None]:
    """(cameras, trace, failure): cameras as (name, vid, pid, path, index, serial, port) tuples; trace the walk's trace text when traced, else None; failure None, or (step, HRESULT) when the enumeration failed"""
