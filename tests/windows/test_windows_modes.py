"""Camera modes on Windows, in Windows CPython under Wine (scripts/test_windows.sh): devices written
into the registry, each backed by the tests' own capture filter (tests/windows/fake_filter/), whose
offers and misbehaviours come from the device's "ZorvekFake" value. What Camera.modes() reads is
checked against what the Windows ffmpeg's dshow input lists for the same device, selected by
Camera.ffmpeg_input. Only for a prefix of the tests' own: they create and delete keys there."""

import json
import os
import re
import subprocess
import sys
import threading
from fractions import Fraction

import pytest

if sys.platform != "win32":
    pytest.skip("Windows CPython only (scripts/test_windows.sh)", allow_module_level=True)
if os.environ.get("ZORVEK_TEST_WINE_PREFIX") != "1":
    pytest.skip("writes the registry: for a Wine prefix of the tests' own only", allow_module_level=True)
FILTER_DLL = os.environ.get("ZORVEK_FAKE_FILTER_DLL")
# The same filter built by MSVC: its C++ exceptions are of the kind the wheel's code can catch.
MSVC_FILTER_DLL = os.environ.get("ZORVEK_MSVC_FILTER_DLL")
FFMPEG = os.environ.get("ZORVEK_WINDOWS_FFMPEG")
if not FILTER_DLL:
    pytest.skip("the tests' capture filter is built by scripts/test_windows.sh (mingw-w64)", allow_module_level=True)

import winreg  # noqa: E402
from pathlib import Path  # noqa: E402

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
import spawn  # noqa: E402

import zorvekcam  # noqa: E402

INSTANCE = r"CLSID\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\Instance"
OWN = "ZorvekTestDevice"
FILTER_CLASS = "{7A3C1E52-9B4D-4F60-8E21-5C0D7B9A4F13}"
MSVC_FILTER_CLASS = "{7A3C1E52-9B4D-4F60-8E21-5C0D7B9A4F14}"
# Each call that asks the device runs against this: a reading that does not end is a failure, not a
# hung stage.
LIMIT = 60


def target_path(n: int) -> str:
    return rf"\\?\usb#vid_2560&pid_c0d6&mi_00#6&{n:x}&0&0000#{{65e8773d-8f56-11d0-a3b9-00a0c9223196}}\global"


def unplug() -> None:
    try:
        instance = winreg.OpenKey(winreg.HKEY_CLASSES_ROOT, INSTANCE)
    except FileNotFoundError:
        return
    with instance:
        names = [winreg.EnumKey(instance, i) for i in range(winreg.QueryInfoKey(instance)[0])]
    for name in names:
        if name.startswith(OWN):
            winreg.DeleteKey(winreg.HKEY_CLASSES_ROOT, rf"{INSTANCE}\{name}")


def plug(*fakes: str | None, name: str = "Fake Camera", filter_class: str = FILTER_CLASS) -> list[zorvekcam.Camera]:
    """One device per description, all of the same name (None: a device with no filter at all),
    listed in this order."""
    for number, fake in enumerate(fakes):
        with winreg.CreateKey(winreg.HKEY_CLASSES_ROOT, rf"{INSTANCE}\{OWN}{300 + number}") as key:
            winreg.SetValueEx(key, "DevicePath", 0, winreg.REG_SZ, target_path(number))
            winreg.SetValueEx(key, "FriendlyName", 0, winreg.REG_SZ, name)
            if fake is not None:
                winreg.SetValueEx(key, "CLSID", 0, winreg.REG_SZ, filter_class)
                winreg.SetValueEx(key, "ZorvekFake", 0, winreg.REG_SZ, fake)
    cameras = zorvekcam.list_devices()
    assert len(cameras) == len(fakes)
    return cameras


@pytest.fixture(scope="module", autouse=True)
def quiet_wine_audio():
    """ffmpeg's device listing also asks for audio devices: Wine's ALSA driver, with no sound card,
    would write its complaints to the stage's output. No audio driver, for this prefix only."""
    with winreg.CreateKey(winreg.HKEY_CURRENT_USER, r"Software\Wine\Drivers") as key:
        winreg.SetValueEx(key, "Audio", 0, winreg.REG_SZ, "")


@pytest.fixture
def devices():
    for dll, filter_class in ((FILTER_DLL, FILTER_CLASS), (MSVC_FILTER_DLL, MSVC_FILTER_CLASS)):
        if dll:
            with winreg.CreateKey(winreg.HKEY_CLASSES_ROOT, rf"CLSID\{filter_class}\InprocServer32") as key:
                winreg.SetValueEx(key, None, 0, winreg.REG_SZ, dll)
                winreg.SetValueEx(key, "ThreadingModel", 0, winreg.REG_SZ, "Both")
    unplug()
    yield plug
    unplug()


def modes_within_limit(camera: zorvekcam.Camera) -> list[zorvekcam.Mode]:
    """camera.modes() on a thread of its own, which must end within LIMIT seconds."""
    outcome: list[object] = []

    def read() -> None:
        try:
            outcome.append(camera.modes())
        except BaseException as error:  # handed to the test's thread
            outcome.append(error)

    reader = threading.Thread(target=read, daemon=True)
    reader.start()
    reader.join(LIMIT)
    assert not reader.is_alive(), f"modes() did not return within {LIMIT} s"
    if isinstance(outcome[0], BaseException):
        raise outcome[0]
    return outcome[0]


def every_filter_released(dll: str | None = None) -> bool:
    """Whether no object of the capture filter's DLL lives any more (its DllCanUnloadNow, asked of the
    same module that COM loaded): every filter, pin and enumerator holds its filter."""
    import ctypes

    return ctypes.WinDLL(dll or FILTER_DLL).DllCanUnloadNow() == 0


def shown(modes: list[zorvekcam.Mode]) -> list[tuple]:
    return [
        (m.format, m.width, m.height, m.fps, m.sizes and m.sizes.as_dict(), m.rates and m.rates.as_dict())
        for m in modes
    ]


def fps(units: int) -> Fraction:
    """A rate from its time per frame in DirectShow's 100 ns units, exactly."""
    return Fraction(10_000_000, units)


def continuous(low: int, high: int) -> dict:
    return zorvekcam.RateRange("continuous", fps(high), fps(low), None).as_dict()


def stepwise_sizes(low: tuple[int, int], high: tuple[int, int], step: tuple[int, int]) -> dict:
    return zorvekcam.SizeRange("stepwise", *low, *high, *step).as_dict()


# ---- What ffmpeg's dshow input lists, and the same modes in what it can express ------------------

LISTED = re.compile(r"(pixel_format|vcodec)=(\S+)\s+min s=(\d+)x(\d+) fps=(\S+)\s+max s=(\d+)x(\d+) fps=(\S+)")
# The FourCCs of the cases, by the names ffmpeg gives them.
FFMPEG_NAMES = {
    "MJPG": "vcodec=mjpeg",
    "YUY2": "pixel_format=yuyv422",
    "H264": "vcodec=h264",
    "NV12": "pixel_format=nv12",
}


def ffmpeg(*args: str) -> subprocess.CompletedProcess:
    return spawn.run(
        [FFMPEG, "-hide_banner", *args],
        stdin=subprocess.DEVNULL,
        capture_output=True,
        text=True,
        errors="replace",
        timeout=LIMIT,
    )


def ffmpeg_options(camera: zorvekcam.Camera) -> list[tuple]:
    """ffmpeg's capabilities of the camera that Camera.ffmpeg_input selects: (format, smallest size,
    lowest fps, largest size, highest fps) each, as it prints them (rates to 6 digits)."""
    f, kind, i, source = camera.ffmpeg_input
    listed = ffmpeg(f, kind, "-list_options", "true", i, source)
    assert listed.returncode == 0, listed.stderr
    return [
        (f"{m[1]}={m[2]}", (int(m[3]), int(m[4])), float(m[5]), (int(m[6]), int(m[7])), float(m[8]))
        for m in LISTED.finditer(listed.stderr)
    ]


def as_ffmpeg_lists(modes: list[zorvekcam.Mode]) -> list[tuple]:
    """Our modes as ffmpeg shows capabilities: ffmpeg has no discrete rates, only each capability's
    range (the filter's shortest and longest interval), so a size's discrete rates, consecutive, make
    one entry from their lowest to their highest; it shows no size step."""
    entries: list[list] = []
    for m in modes:
        low_size = (m.width, m.height)
        high_size = (m.sizes.max_width, m.sizes.max_height) if m.sizes else low_size
        low_fps, high_fps = (m.rates.min_fps, m.rates.max_fps) if m.rates else (m.fps, m.fps)
        key = (FFMPEG_NAMES[m.format], low_size, high_size)
        if m.rates is None and entries and entries[-1][0] == key and entries[-1][3]:
            entries[-1][1] = min(entries[-1][1], low_fps)
            entries[-1][2] = max(entries[-1][2], high_fps)
            continue
        entries.append([key, low_fps, high_fps, m.rates is None])
    return [(key[0], key[1], float(low), key[2], float(high)) for key, low, high, _ in entries]


def same_listing(ours: list[tuple], theirs: list[tuple]) -> bool:
    """Equal, rates to the 6 significant digits ffmpeg prints."""
    return len(ours) == len(theirs) and all(
        a[:2] == b[:2]
        and a[3] == b[3]
        and a[2] == pytest.approx(b[2], rel=1e-5)
        and a[4] == pytest.approx(b[4], rel=1e-5)
        for a, b in zip(ours, theirs)
    )


AGREEING = {
    "discrete rates, a rate range, VIDEOINFOHEADER2 at NTSC's rate": "MJPG 1280x720 333333-666666 rates=333333,400000,666666;YUY2 640x480 333333-10000000;"
    "H264 1920x1080 333667-333667 vi2",
    "a size range, 60 and 29.97 fps": "YUY2 640x480 333333-666666 sizes=160x120-1280x960/16x8;MJPG 640x480 166833-333667 rates=166833,333667;"
    "NV12 320x240 333333-333333",
}


@pytest.mark.skipif(not FFMPEG, reason="no Windows ffmpeg (scripts/test_windows.sh fetches it)")
@pytest.mark.parametrize("fake", AGREEING.values(), ids=AGREEING.keys())
def test_modes_agree_with_what_ffmpeg_lists_for_the_same_device(devices, fake):
    # A second camera of the same name, listed first: ffmpeg_input must select this one.
    camera = devices("YUY2 8x8 333333-333333", fake)[1]
    assert camera.ffmpeg_input == ["-f", "dshow", "-i", "video=" + camera.moniker.replace(":", "_")]
    ours = modes_within_limit(camera)
    theirs = ffmpeg_options(camera)
    assert theirs, "ffmpeg listed no capability"
    assert same_listing(as_ffmpeg_lists(ours), theirs), (as_ffmpeg_lists(ours), theirs)


@pytest.mark.skipif(not FFMPEG, reason="no Windows ffmpeg (scripts/test_windows.sh fetches it)")
def test_ffmpeg_names_the_device_by_our_moniker_and_a_device_without_filter_as_none(devices):
    cameras = devices("YUY2 640x480 333333-333333", None)
    listed = ffmpeg("-list_devices", "true", "-f", "dshow", "-i", "dummy").stderr
    alternatives = re.findall(r'Alternative name "([^"]+)"', listed)
    for camera in cameras:
        assert camera.moniker.replace(":", "_") in alternatives
    # ffmpeg binds each device to list it, and says "(none)" for the one it cannot bind.
    assert "(none)" in listed


@pytest.mark.skipif(not FFMPEG, reason="no Windows ffmpeg (scripts/test_windows.sh fetches it)")
def test_ffmpeg_reads_frames_of_a_mode_chosen_from_modes_through_ffmpeg_input(devices):
    camera = devices(
        "YUY2 8x8 333333-333333", "MJPG 1280x720 333333-333333;YUY2 64x48 333333-333333;YUY2 32x24 400000-400000"
    )[1]
    (mode,) = [m for m in modes_within_limit(camera) if (m.format, m.width) == ("YUY2", 32)]
    f, kind, i, source = camera.ffmpeg_input
    read = ffmpeg(
        f,
        kind,
        "-video_size",
        f"{mode.width}x{mode.height}",
        "-pixel_format",
        "yuyv422",
        "-framerate",
        str(mode.fps),
        i,
        source,
        "-frames:v",
        "3",
        "-f",
        "framemd5",
        "-",
    )
    assert read.returncode == 0, read.stderr
    assert "yuyv422, 32x24, 25 fps" in read.stderr
    frames = [line.split(",") for line in read.stdout.splitlines() if line and not line.startswith("#")]
    assert [int(frame[4]) for frame in frames] == [32 * 24 * 2] * 3


def test_exact_rates_and_ranges_kept_as_ranges(devices):
    (camera,) = devices(
        "MJPG 1280x720 333333-666666 rates=333333,400000,666666;YUY2 640x480 333333-10000000;"
        "H264 1920x1080 333667-333667 vi2;YUY2 640x480 333333-666666 sizes=160x120-1280x960/16x8;"
        "abcd 8x8 333333-333333;\x01\x7fZ\\ 8x8 333333-333333"
    )
    assert shown(modes_within_limit(camera)) == [
        ("MJPG", 1280, 720, fps(333333), None, None),
        ("MJPG", 1280, 720, Fraction(25), None, None),
        ("MJPG", 1280, 720, fps(666666), None, None),
        ("YUY2", 640, 480, fps(333333), None, continuous(333333, 10000000)),
        ("H264", 1920, 1080, Fraction(10_000_000, 333667), None, None),
        ("YUY2", 160, 120, fps(333333), stepwise_sizes((160, 120), (1280, 960), (16, 8)), continuous(333333, 666666)),
        ("abcd", 8, 8, fps(333333), None, None),
        (r"\x01\x7fZ\x5c", 8, 8, fps(333333), None, None),
    ]
    assert fps(333333) == Fraction(10_000_000, 333333)  # exact, not 30


# What each hostile answer gives, and the step and result of each failure, are the reader's tests
# (capture_modes_test.cpp, under Wine); here, that they reach Python as they should.
FAILING = {
    # No "CLSID" value: the moniker has no filter to create.
    "no filter": (None, "IMoniker::BindToObject(IID_IBaseFilter)", 0x80070002),
    # A count of 2^31 or more, which a signed int shows as negative.
    "a negative count": (
        "!count=-2147483648;YUY2 640x480 333333-333333",
        "IAMStreamConfig::GetNumberOfCapabilities",
        0x8000FFFF,
    ),
}


@pytest.mark.parametrize(("fake", "step", "hresult"), FAILING.values(), ids=FAILING.keys())
def test_a_device_that_cannot_be_read_raises_camera_error_with_step_and_hresult(devices, fake, step, hresult):
    (camera,) = devices(fake)
    with pytest.raises(zorvekcam.CameraError) as raised:
        modes_within_limit(camera)
    assert isinstance(raised.value, OSError)
    assert (raised.value.step, raised.value.hresult) == (step, hresult)
    assert f"0x{hresult:08X}" in str(raised.value)
    assert every_filter_released()


@pytest.mark.skipif(not MSVC_FILTER_DLL, reason="the MSVC-built capture filter is built by scripts/test_windows.sh")
def test_a_filter_that_throws_raises_camera_error_and_the_next_reading_works(devices):
    thrower, fine = devices(
        "!throw;YUY2 640x480 333333-333333", "YUY2 640x480 333333-333333", filter_class=MSVC_FILTER_CLASS
    )
    with pytest.raises(zorvekcam.CameraError) as raised:
        modes_within_limit(thrower)
    assert (raised.value.step, raised.value.hresult) == ("IAMStreamConfig::GetStreamCaps", 0x8000FFFF)
    assert every_filter_released(MSVC_FILTER_DLL)
    assert shown(modes_within_limit(fine)) == [("YUY2", 640, 480, fps(333333), None, None)]


def test_a_device_gone_since_the_listing_raises_camera_error(devices):
    (camera,) = devices("YUY2 640x480 333333-333333")
    unplug()
    with pytest.raises(zorvekcam.CameraError) as raised:
        modes_within_limit(camera)
    assert raised.value.hresult is not None and raised.value.hresult & 0x80000000


def command(*args: str) -> subprocess.CompletedProcess:
    return spawn.run(
        [sys.executable, "-m", "zorvekcam", *args],
        stdin=subprocess.DEVNULL,
        capture_output=True,
        text=True,
        timeout=LIMIT,
    )


def test_the_command_lists_modes_as_text_and_json(devices):
    cameras = devices("MJPG 1280x720 333333-333333 rates=333333,400000;YUY2 640x480 333333-10000000", None)
    listed = command("--json", "--modes")
    # The camera without a filter: its modes null, said on standard error, and the status says so.
    assert listed.returncode == 4, listed.stderr
    entries = json.loads(listed.stdout)
    assert [e["moniker"] for e in entries] == [c.moniker for c in cameras]
    assert entries[0]["modes"] == [
        {"format": "MJPG", "width": 1280, "height": 720, "fps": "10000000/333333", "sizes": None, "rates": None},
        {"format": "MJPG", "width": 1280, "height": 720, "fps": "25/1", "sizes": None, "rates": None},
        {
            "format": "YUY2",
            "width": 640,
            "height": 480,
            "fps": "10000000/333333",
            "sizes": None,
            "rates": {"kind": "continuous", "min_fps": "1/1", "max_fps": "10000000/333333", "step_interval": None},
        },
    ]
    assert entries[1]["modes"] is None
    assert "IMoniker::BindToObject(IID_IBaseFilter)" in listed.stderr and "0x80070002" in listed.stderr

    text = command("--modes")
    assert text.returncode == 4
    lines = text.stdout.splitlines()
    assert [line.strip() for line in lines[2:5]] == [
        "MJPG  1280x720  10000000/333333 (30.000) fps",
        "MJPG  1280x720  25 fps",
        "YUY2  640x480  1 - 10000000/333333 (30.000) fps continuous",
    ]
