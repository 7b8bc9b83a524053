"""Camera.modes() and what opens a camera in other tools, over scripted devices: the modes as the
native core hands them over, their failures, and the command's --modes."""

import errno
import json
import os
import pickle
import subprocess
import threading
from fractions import Fraction

import pytest

from conftest import OTHER, TARGET_A, TARGET_B, child_env, linux_path
from scripted import CONTINUOUS, STEPWISE, Device, child_command, scripted_mode

import zorvekcam
from zorvekcam import CAP_DSHOW, CAP_V4L2, Camera, CameraError, Mode, RateRange, SizeRange

NTSC = Fraction(30000, 1001)


@pytest.mark.parametrize(
    "handed, expected",
    [
        pytest.param(scripted_mode("MJPG", 1280, 720, (1001, 30000)), Mode("MJPG", 1280, 720, NTSC), id="discrete"),
        pytest.param(scripted_mode("GREY", 640, 480), Mode("GREY", 640, 480, None), id="no-rate"),
        pytest.param(
            scripted_mode("YUYV", 160, 120, sizes=STEPWISE, max_size=(1280, 960), size_step=(16, 8)),
            Mode("YUYV", 160, 120, None, sizes=SizeRange("stepwise", 160, 120, 1280, 960, 16, 8)),
            id="stepwise-sizes",
        ),
        pytest.param(
            scripted_mode("YUYV", 2, 2, sizes=CONTINUOUS, max_size=(4096, 2160), size_step=(1, 1)),
            Mode("YUYV", 2, 2, None, sizes=SizeRange("continuous", 2, 2, 4096, 2160, 1, 1)),
            id="continuous-sizes",
        ),
        pytest.param(
            scripted_mode("H264", 1920, 1080, (1, 60), rates=STEPWISE, max_interval=(1, 1), interval_step=(1, 100)),
            Mode(
                "H264",
                1920,
                1080,
                Fraction(60),
                rates=RateRange("stepwise", Fraction(1), Fraction(60), Fraction(1, 100)),
            ),
            id="stepwise-rates",
        ),
        pytest.param(
            scripted_mode("H264", 1920, 1080, (1001, 60000), rates=CONTINUOUS, max_interval=(2, 1)),
            Mode(
                "H264",
                1920,
                1080,
                Fraction(60000, 1001),
                rates=RateRange("continuous", Fraction(1, 2), Fraction(60000, 1001), None),
            ),
            id="continuous-rates",
        ),
        pytest.param(
            scripted_mode("\x1bZ\\\xff", 8, 8, (1, 1)),
            Mode(r"\x1bZ\x5c\xff", 8, 8, Fraction(1)),
            id="unknown-fourcc-escaped",
        ),
    ],
)
def test_each_kind_of_mode_comes_over_exactly(scripted_devices, handed, expected):
    scripted_devices.attach(Device(TARGET_A, "Cam A", modes=(handed,)))
    [camera] = zorvekcam.list_devices()
    assert scripted_devices.mode_readings() == 0, "a listing never asks a camera for its modes"
    assert camera.modes() == [expected]
    assert scripted_devices.mode_readings() == 1


def test_modes_are_per_camera_in_the_devices_order_with_exact_rates(scripted_devices):
    rates = [(1, 30), (1001, 30000), (1, 15)]
    scripted_devices.attach(
        Device(OTHER, "Other", modes=(scripted_mode("MJPG", 1, 1, (1, 1)),)),
        Device(TARGET_A, "Cam A", modes=tuple(scripted_mode("MJPG", 1280, 720, r) for r in rates)),
        Device(TARGET_B, "Cam B", modes=(scripted_mode("YUYV", 640, 480, (1, 25)),)),
    )
    a, b = zorvekcam.list_devices()
    assert [m.fps for m in a.modes()] == [Fraction(30), NTSC, Fraction(15)]
    assert b.modes() == [Mode("YUYV", 640, 480, Fraction(25))]


@pytest.mark.parametrize(
    "handed",
    [
        pytest.param(scripted_mode("MJPG", 640, 480, (0, 1)), id="interval-numerator-0"),
        pytest.param(scripted_mode("MJPG", 640, 480, (1, 0)), id="interval-denominator-0"),
        pytest.param(
            scripted_mode("MJPG", 640, 480, (1, 30), rates=STEPWISE, max_interval=(1, 0), interval_step=(1, 1)),
            id="range-maximum-denominator-0",
        ),
        pytest.param(
            scripted_mode("MJPG", 640, 480, (1, 30), rates=STEPWISE, max_interval=(1, 1), interval_step=(1, 0)),
            id="range-step-denominator-0",
        ),
        pytest.param(scripted_mode("MJPG", 640, 480, (1, 30), rates=7, max_interval=(1, 1)), id="unknown-span"),
    ],
)
def test_the_core_hands_over_no_mode_that_would_divide_by_zero(scripted_devices, handed):
    good = scripted_mode("YUYV", 320, 240, (1, 30))
    scripted_devices.attach(Device(TARGET_A, "Cam A", modes=(handed, good)))
    assert zorvekcam.list_devices()[0].modes() == [Mode("YUYV", 320, 240, Fraction(30))]


@pytest.mark.parametrize(
    "step, code", [("open /dev/video0", errno.EACCES), ("VIDIOC_ENUM_FRAMESIZES /dev/video0", errno.ENODEV)]
)
def test_a_camera_that_cannot_be_read_raises_camera_error_with_step_and_errno(scripted_devices, step, code):
    scripted_devices.attach(
        Device(TARGET_A, "Cam A", modes=(scripted_mode("MJPG", 1, 1, (1, 1)),), modes_failure=(step, code))
    )
    with pytest.raises(CameraError) as raised:
        zorvekcam.list_devices()[0].modes()
    error = raised.value
    assert isinstance(error, OSError)
    assert (error.step, error.errno, error.strerror, error.hresult) == (step, code, os.strerror(code), None)
    assert step in str(error) and error.strerror in str(error)
    again = pickle.loads(pickle.dumps(error))
    assert (type(again), again.step, again.errno, str(again)) == (CameraError, step, code, str(error))


@pytest.mark.parametrize("given", [0x80070002, 0x80070002 - (1 << 32)], ids=["unsigned", "signed"])
def test_windows_errors_carry_the_hresult_unsigned(given):
    error = CameraError("IMoniker::BindToObject(IID_IBaseFilter)", hresult=given)
    assert (error.errno, error.hresult) == (None, 0x80070002)
    assert str(error).endswith("IMoniker::BindToObject(IID_IBaseFilter) returned 0x80070002")
    assert pickle.loads(pickle.dumps(error)).hresult == 0x80070002


def test_a_camera_with_nothing_to_open_raises_without_asking_the_core(scripted_devices):
    bare = Camera("Cam", "2560", "C0D6", "X", None, 0, CAP_V4L2, None, None)
    with pytest.raises(CameraError) as raised:
        bare.modes()
    assert raised.value.errno == errno.ENOENT
    assert scripted_devices.mode_readings() == 0


def test_a_node_no_device_has_is_an_error_not_an_empty_list(scripted_devices):
    stray = Camera("Cam", "2560", "C0D6", "X", "/dev/video9", 9, CAP_V4L2, None, None)
    with pytest.raises(CameraError, match="open /dev/video9") as raised:
        stray.modes()
    assert raised.value.errno == errno.ENOENT


def test_the_interpreters_lock_is_released_while_the_device_is_asked(scripted_devices):
    scripted_devices.attach(Device(TARGET_A, "Cam A", modes=(scripted_mode("MJPG", 640, 480, (1, 30)),)))
    [camera] = zorvekcam.list_devices()
    got = []
    scripted_devices.hold_modes(1)
    try:
        reader = threading.Thread(target=lambda: got.append(camera.modes()))
        reader.start()
        # This thread runs Python while the reader waits inside the core: it could not, were the lock
        # held there (the reading would end, released by its own time limit, with nobody seen waiting).
        seen_waiting = False
        while reader.is_alive() and not seen_waiting:
            seen_waiting = scripted_devices.modes_waiting() == 1
        assert seen_waiting
    finally:
        scripted_devices.hold_modes(0)
    reader.join()
    assert got == [[Mode("MJPG", 640, 480, Fraction(30))]]


def test_modes_are_immutable_hashable_records_whose_dicts_are_exact_json():
    mode = Mode(
        "YUYV",
        640,
        480,
        NTSC,
        rates=RateRange("stepwise", Fraction(1, 2), NTSC, Fraction(1, 1000)),
        sizes=SizeRange("stepwise", 640, 480, 1280, 960, 16, 8),
    )
    with pytest.raises(AttributeError):
        mode.fps = Fraction(1)
    with pytest.raises(AttributeError):
        mode.rates.max_fps = Fraction(1)
    assert {mode, Mode("YUYV", 640, 480, NTSC, rates=mode.rates, sizes=mode.sizes)} == {mode}
    assert mode != Mode("YUYV", 640, 480, Fraction(30), rates=mode.rates, sizes=mode.sizes)
    shown = json.loads(json.dumps(mode.as_dict()))
    assert shown == {
        "format": "YUYV",
        "width": 640,
        "height": 480,
        "fps": "30000/1001",
        "sizes": {
            "kind": "stepwise",
            "min_width": 640,
            "min_height": 480,
            "max_width": 1280,
            "max_height": 960,
            "step_width": 16,
            "step_height": 8,
        },
        "rates": {"kind": "stepwise", "min_fps": "1/2", "max_fps": "30000/1001", "step_interval": "1/1000"},
    }
    assert Fraction(shown["fps"]) == NTSC and Fraction(shown["rates"]["min_fps"]) == Fraction(1, 2)
    assert Mode("MJPG", 1, 1, Fraction(30)).as_dict()["fps"] == "30/1"


@pytest.mark.parametrize(
    "node, moniker, ffmpeg, gstreamer",
    [
        ("/dev/video3", None, ["-f", "v4l2", "-i", "/dev/video3"], "v4l2src device=/dev/video3"),
        (
            None,
            r"@device:pnp:\\?\usb#vid_2560&pid_c0d6&mi_00#6&1a2b&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\global",
            [
                "-f",
                "dshow",
                "-i",
                r"video=@device_pnp_\\?\usb#vid_2560&pid_c0d6&mi_00#6&1a2b&0&0000#"
                r"{65e8773d-8f56-11d0-a3b9-00a0c9223196}\global",
            ],
            None,
        ),
        (None, None, [], None),
        ("/dev/video 3; rm", None, ["-f", "v4l2", "-i", "/dev/video 3; rm"], None),  # no launch-line text to inject
    ],
)
def test_what_opens_the_camera_in_ffmpeg_and_gstreamer(node, moniker, ffmpeg, gstreamer):
    camera = Camera("Cam", "2560", "C0D6", "X", node, 3, CAP_DSHOW if moniker else CAP_V4L2, None, None, moniker)
    assert camera.ffmpeg_input == ffmpeg
    assert camera.gstreamer_source == gstreamer
    assert camera.as_dict()["moniker"] == moniker


# The command's --modes, in a child process.


def run(devices, *args):
    return subprocess.run(
        child_command(devices, "-m", "zorvekcam", *args), capture_output=True, text=True, env=child_env(), timeout=60
    )


CAM_A = Device(
    TARGET_A,
    "Cam A",
    modes=(
        scripted_mode("MJPG", 1280, 720, (1, 30)),
        scripted_mode("MJPG", 1280, 720, (1001, 30000)),
        scripted_mode(
            "YUYV",
            160,
            120,
            (1, 60),
            sizes=STEPWISE,
            max_size=(1280, 960),
            size_step=(16, 8),
            rates=STEPWISE,
            max_interval=(1, 1),
            interval_step=(1, 100),
        ),
        scripted_mode("YUYV", 2, 2, sizes=CONTINUOUS, max_size=(64, 64), size_step=(1, 1)),
        scripted_mode("\x1b[2J", 8, 8, (1, 5), rates=CONTINUOUS, max_interval=(1, 1)),
    ),
)
CAM_B = Device(TARGET_B, "Cam B", modes=(scripted_mode("GREY", 640, 480, (1, 25)),))


def test_modes_option_lists_each_cameras_modes_under_its_line_ranges_as_ranges():
    out = run([CAM_A, CAM_B], "--modes")
    assert (out.returncode, out.stderr) == (0, "")
    lines = out.stdout.splitlines()
    assert lines[1].startswith("Cam A") and lines[7].startswith("Cam B")
    assert [line.strip() for line in lines[2:7] + lines[8:]] == [
        "MJPG  1280x720  30 fps",
        "MJPG  1280x720  30000/1001 (29.970) fps",
        "YUYV  160x120 - 1280x960 step 16x8  1 - 60 fps interval step 1/100 s",
        "YUYV  2x2 - 64x64 continuous  no rate given",
        r"\x1b[2J  8x8  1 - 5 fps continuous",
        "GREY  640x480  25 fps",
    ]
    assert all(line.startswith("    ") for line in lines[2:7] + lines[8:])
    # Without the option, the table is the same cameras' lines alone, and no device is asked.
    assert run([CAM_A, CAM_B]).stdout.splitlines() == [lines[0], lines[1], lines[7]]


def test_json_modes_adds_exact_modes_to_each_camera():
    out = run([CAM_A, CAM_B], "--json", "--modes")
    assert (out.returncode, out.stderr) == (0, "")
    a, b = json.loads(out.stdout)
    assert [m["fps"] for m in a["modes"]] == ["30/1", "30000/1001", "60/1", None, "5/1"]
    assert a["modes"][2]["rates"] == {"kind": "stepwise", "min_fps": "1/1", "max_fps": "60/1", "step_interval": "1/100"}
    assert a["modes"][4]["format"] == r"\x1b[2J"
    assert b["modes"] == [{"format": "GREY", "width": 640, "height": 480, "fps": "25/1", "sizes": None, "rates": None}]
    assert "modes" not in json.loads(run([CAM_A], "--json").stdout)[0]


@pytest.mark.parametrize("as_json", [False, True])
def test_a_camera_whose_modes_cannot_be_read_is_named_on_stderr_and_the_others_still_listed(as_json):
    broken = Device(TARGET_A, "Cam\x1bA", modes_failure=("VIDIOC_ENUM_FMT /dev/video0", errno.ENODEV))
    empty = Device(linux_path("2560", "c0d6", "video6", port="1-5"), "Cam C")  # read, and without a mode
    out = run([broken, CAM_B, empty], "--modes", *(["--json"] if as_json else []))
    assert out.returncode == 4
    assert out.stderr == (
        r"zorvekcam: Cam\x1bA (/dev/video0): reading the camera's modes failed: VIDIOC_ENUM_FMT "
        "/dev/video0: No such device (errno 19)\n"
    )
    if as_json:
        a, b, c = json.loads(out.stdout)
        assert (a["modes"], len(b["modes"]), c["modes"]) == (None, 1, [])
    else:
        assert [line.split()[:2] for line in out.stdout.splitlines()] == [
            ["NAME", "VID"],
            [r"Cam\x1bA", "2560"],
            ["Cam", "B"],
            ["GREY", "640x480"],
            ["Cam", "C"],
            ["no", "modes"],
        ]


def test_modes_go_with_a_listing_not_a_watch():
    out = run([CAM_A], "--watch", "--modes")
    assert (out.returncode, out.stdout) == (2, "")
    assert "--modes" in out.stderr
