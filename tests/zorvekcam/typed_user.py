"""A small user script, type-checked with `mypy --strict` against the installed package and stubs:
every type it relies on must come through exactly, not as Any."""

from __future__ import annotations

from fractions import Fraction
from typing import Literal, assert_type

import Zorvek
import zorvek_records

import zorvekcam


def describe(camera: zorvekcam.Camera) -> str:
    assert_type(camera.node, str | None)
    assert_type(camera.index, int)
    assert_type(camera.backend, int)
    assert_type(camera.serial, str | None)
    assert_type(camera.port, str | None)
    assert_type(camera.moniker, str | None)
    assert_type(camera.ffmpeg_input, list[str])
    assert_type(camera.gstreamer_source, str | None)
    return f"{camera.name} {camera.vid}:{camera.pid} {camera.node or camera.path}"


def fastest_mjpeg(camera: zorvekcam.Camera) -> zorvekcam.Mode | None:
    try:
        modes = camera.modes()
    except zorvekcam.CameraError as failed:
        assert_type(failed.step, str)
        assert_type(failed.hresult, int | None)
        assert_type(failed.errno, int | None)
        return None
    assert_type(modes, list[zorvekcam.Mode])
    for mode in modes:
        assert_type(mode.format, str)
        assert_type(mode.width, int)
        assert_type(mode.fps, Fraction | None)
        if mode.sizes is not None:
            assert_type(mode.sizes.step_width, int)
        if mode.rates is not None:
            assert_type(mode.rates.min_fps, Fraction)
            assert_type(mode.rates.step_interval, Fraction | None)
    return max((m for m in modes if m.format == "MJPG" and m.fps is not None), key=lambda m: m.fps or 0, default=None)


def first_change() -> zorvekcam.Camera | None:
    for event in zorvekcam.watch(interval=0.5):
        assert_type(event.kind, Literal["present", "added", "removed"])
        if event.kind != "present":
            return event.camera
    return None


def changes_for_ten_seconds() -> list[zorvekcam.Event]:
    with zorvekcam.watch(timeout=10.0) as watcher:
        assert_type(watcher, zorvekcam.Watch)
        return list(watcher)


async def first_seen() -> zorvekcam.Event | None:
    assert_type(await zorvekcam.alist_devices(), list[zorvekcam.Camera])
    assert_type(await zorvekcam.acount(), int)
    async for event in zorvekcam.awatch(timeout=5.0):
        return event
    return None


def main() -> None:
    assert_type(zorvekcam.__version__, str)
    try:
        with zorvekcam.trace() as trace:
            cameras = zorvekcam.list_devices()
            assert_type(zorvekcam.count(), int)
    except zorvekcam.EnumerationError as failed:
        assert_type(failed.hresult, int | None)
        assert_type(failed.errno, int | None)  # None where the failure was COM's
        assert_type(failed.step, str)
        return
    assert_type(trace.text, str)
    for camera in cameras:
        print(describe(camera))

    # The module itself, with records from the companion.
    assert_type(Zorvek.getDeviceCount(0), bool)
    records = zorvek_records.DeviceInfo(2)
    assert_type(len(records), int)
    assert_type(Zorvek.getDeviceListInfo(2, records), bool)
    assert_type(Zorvek.getDeviceInfo(0, records), bool)
    for each in records:
        assert_type(each, zorvek_records.Record)
    record = records[0]
    assert_type(record.friendlyName, str)
    assert_type(record.devicePath, str)
    assert_type(record.bytes("vid"), bytes)
    assert_type(record.raw, bytes)


if __name__ == "__main__":
    main()
