"""Camera.modes() of fake cameras against the other readers of the same node: v4l2-ctl, GStreamer's
device monitor, ffmpeg and linuxpy (mode_readers.py runs them), over one camera at a time with
discrete modes, with ranges of sizes and of rates, and with FourCCs nobody knows. Each reader is held
to what it can express:

- v4l2-ctl prints every entry the node gives, in its order, so the modes equal its list mode for mode;
  it rounds rates and intervals to 3 decimals (30000/1001 is "29.970 fps"), where the modes are exact
  (checked against the fake's own table), and like the modes it reads no rates for a range of sizes
  (V4L2 gives intervals per size only).
- GStreamer renames the formats it knows (image/jpeg, YUY2, GRAY8, RGB), drops the others, orders
  the formats its own way, makes a stepwise range of intervals into its every rate, and gives a
  range of sizes the rates of one size in it; its launch line leaves out device= for /dev/video0,
  v4l2src's default. It opens the metadata node too.
- ffmpeg lists each format's sizes (ranges as {min-max, step}), not its rates, and reads the node
  that Camera.ffmpeg_input names.
- linuxpy 0.25 drops unknown FourCCs, keeps its formats in a set (so its order across formats is
  none), reads rates only of discrete sizes, gives a discrete rate as the float division made a
  Fraction, and names a range's bounds the other way round: its min_fps is the shortest interval's
  rate, the highest.

Hostile nodes: one that never ends an enumeration, at each level, and one that goes away (ENODEV)
halfway through each enumeration: modes() comes back (the child's answer within PATIENCE) with a
bounded list, or raises CameraError; entries no camera gives are left out and the sound ones beside
them kept. (GStreamer's device monitor itself never ends on a node that never ends its formats.)
And zorvekcam --modes over the same cameras: its JSON holds each camera's exact modes.
"""

import errno
import json
import shutil
import subprocess
import tempfile
from fractions import Fraction

import mode_readers
import pytest
from conftest import PATIENCE, SHIPPED_PYTHON
from fake_v4l2 import (
    DISCRETE_MODES,
    ENDLESS,
    RANGE_MODES,
    UNKNOWN_FOURCC_MODES,
    VIDIOC_ENUM_FMT,
    VIDIOC_ENUM_FRAMEINTERVALS,
    VIDIOC_ENUM_FRAMESIZES,
    Format,
    Intervals,
    Size,
    Sizes,
    camera,
    udev_entry,
)

# Each kind of camera on its own nodes; the first on video0, which GStreamer names its own way.
CAMERAS = {"discrete": (0, DISCRETE_MODES), "ranges": (2, RANGE_MODES), "unknown FourCCs": (4, UNKNOWN_FOURCC_MODES)}
# The bounds of one reading (docs/opening.md, "Whatever the device answers"): entries per level and
# device calls.
PER_LEVEL, CALLS = 256, 4096


def needs(program):
    """Skips where the setup (scripts/setup.sh --test) could not install the reader."""
    return pytest.mark.skipif(shutil.which(program) is None, reason=f"{program} is not installed")


def _linuxpy_missing():
    return subprocess.run([SHIPPED_PYTHON, "-c", "import linuxpy.video.device"], capture_output=True).returncode != 0


def plugged(devices, kind):
    first, table = CAMERAS[kind] if isinstance(kind, str) else kind
    devices.plug(camera(f"1-{first // 2 + 1}", first, modes=table))
    return f"/dev/video{first}"


def read_modes(devices, shipped, node):
    """Its modes (as_dict()), or its CameraError's fields, read once the camera was listed; and what
    the reading opened and asked."""
    assert node in [listed for listed, _ in shipped.list()]
    devices.queries.take()
    shipped.send(f"modes({node!r})")
    modes, trace = shipped.line(timeout=PATIENCE * 3)
    assert trace == ""
    return modes, devices.queries.take()


def _text(fraction):
    return f"{fraction.numerator}/{fraction.denominator}"  # as_dict()'s exact "n/d", "30/1" too


def _fps(interval):
    numerator, denominator = interval
    return _text(Fraction(denominator, numerator))


def declared(table):
    """The modes (as as_dict() gives them) of the fake's own table, exact: one per discrete rate (one
    without a rate for a size with none), a range of sizes without rates (V4L2 gives intervals per
    size), a range of intervals as one."""
    modes = []
    for fmt in table:
        name = mode_readers.escaped(fmt.fourcc)
        for size in fmt.sizes:
            if isinstance(size, Sizes):
                kind = "continuous" if size.continuous else "stepwise"
                modes.append(
                    {
                        "format": name,
                        "width": size.min_width,
                        "height": size.min_height,
                        "fps": None,
                        "sizes": {"kind": kind, **{field: getattr(size, field) for field in SIZE_FIELDS}},
                        "rates": None,
                    }
                )
            elif isinstance(size.rates, Intervals):
                span = size.rates
                rates = {
                    "kind": "continuous" if span.continuous else "stepwise",
                    "min_fps": _fps(span.longest),
                    "max_fps": _fps(span.shortest),
                    "step_interval": None if span.continuous else _text(Fraction(*span.step)),
                }
                modes.append(
                    {
                        "format": name,
                        "width": size.width,
                        "height": size.height,
                        "fps": _fps(span.shortest),
                        "sizes": None,
                        "rates": rates,
                    }
                )
            else:  # a size that tells no rate is one mode without one
                modes += [
                    {
                        "format": name,
                        "width": size.width,
                        "height": size.height,
                        "fps": None if interval is None else _fps(interval),
                        "sizes": None,
                        "rates": None,
                    }
                    for interval in size.rates or (None,)
                ]
    return modes


SIZE_FIELDS = ("min_width", "min_height", "max_width", "max_height", "step_width", "step_height")


@pytest.mark.parametrize("kind", CAMERAS)
def test_modes_are_read_with_one_open_of_the_capture_node_and_exact_rates(devices, shipped, kind):
    node = plugged(devices, kind)
    modes, taken = read_modes(devices, shipped, node)
    # The capture node once, the metadata node never, nothing but the enumerations; the listing after
    # it opens nothing.
    assert taken["opened"] == {node: 1}
    assert set(taken["requests"][node]) == {VIDIOC_ENUM_FMT, VIDIOC_ENUM_FRAMESIZES, VIDIOC_ENUM_FRAMEINTERVALS}
    shipped.list()
    assert devices.queries.take()["opened"] == {}
    # Exact where v4l2-ctl rounds: 1001/30000 s a frame is 30000/1001 fps, not 29.97.
    assert modes == declared(CAMERAS[kind][1])


def test_a_listing_that_udevs_entries_answer_opens_nothing_and_modes_the_capture_node_once(
    devices, udev_database, shipped
):
    cam = devices.plug(camera("1-1", 0, modes=DISCRETE_MODES))
    udev_entry(cam.nodes[0], ":capture:")
    udev_entry(cam.nodes[1], ":")
    devices.queries.take()
    assert [node for node, _ in shipped.list()] == ["/dev/video0"]
    assert devices.queries.take()["opened"] == {}
    modes, _ = shipped.ask("modes('/dev/video0')")
    assert devices.queries.take()["opened"] == {"/dev/video0": 1}
    assert modes == declared(DISCRETE_MODES)


def test_the_commands_json_modes_are_each_cameras_own_and_its_table_shows_ranges_as_ranges(devices):
    for kind in CAMERAS:
        plugged(devices, kind)
    run = [SHIPPED_PYTHON, "-m", "zorvekcam", "--modes"]
    out = subprocess.run([*run, "--json"], capture_output=True, text=True, timeout=PATIENCE)
    assert (out.returncode, out.stderr) == (0, "")
    assert {camera["node"]: camera["modes"] for camera in json.loads(out.stdout)} == {
        f"/dev/video{first}": declared(table) for first, table in CAMERAS.values()
    }
    out = subprocess.run(run, capture_output=True, text=True, timeout=PATIENCE)
    assert (out.returncode, out.stderr) == (0, "")
    for shown in ("160x120 - 1280x960", "16x16 - 4096x2160", "30000/1001", "Z\\x01\\x7fQ"):
        assert shown in out.stdout


@needs("v4l2-ctl")
@pytest.mark.parametrize("kind", CAMERAS)
def test_modes_are_what_v4l2_ctl_lists_mode_for_mode(devices, shipped, kind):
    node = plugged(devices, kind)
    modes, _ = read_modes(devices, shipped, node)
    assert [mode_readers.as_v4l2_ctl(mode) for mode in modes] == mode_readers.v4l2_ctl(node)


@pytest.fixture(scope="module")
def gst_env():
    with tempfile.TemporaryDirectory() as folder:
        yield mode_readers.registry(folder)


@needs("gst-device-monitor-1.0")
@pytest.mark.parametrize("kind", CAMERAS)
def test_modes_and_gstreamer_source_agree_with_gstreamers_device_monitor(devices, shipped, gst_env, kind):
    node = plugged(devices, kind)
    modes, _ = read_modes(devices, shipped, node)
    (_, source), _ = shipped.ask(f"inputs({node!r})")
    seen = mode_readers.gst_devices(gst_env)
    assert list(seen) == [node]  # the metadata node is no video source
    caps, launch = seen[node]
    theirs = [
        (media, name, size, "any" if size[0] == "range" else rates)
        for media, name, size, rates in mode_readers.from_gst(caps)
    ]
    assert sorted(mode_readers.as_gst(modes), key=repr) == sorted(theirs, key=repr)
    assert source == f"v4l2src device={node}"
    assert launch == ("v4l2src" if node == "/dev/video0" else source)


def as_linuxpy(mode):
    """A mode of a discrete size as linuxpy 0.25 gives its rate (see the docstring)."""
    rates = mode["rates"]
    if rates is None:
        fps = str(Fraction(float(Fraction(mode["fps"]))))
        return [mode["format"], mode["width"], mode["height"], "discrete", fps, fps, fps]
    step = "1" if rates["kind"] == "continuous" else str(1 / Fraction(rates["step_interval"]))
    return [
        mode["format"],
        mode["width"],
        mode["height"],
        rates["kind"],
        rates["max_fps"].removesuffix("/1"),
        rates["min_fps"].removesuffix("/1"),
        step,
    ]


@pytest.mark.skipif(_linuxpy_missing(), reason="linuxpy is not installed (pyproject.toml's test group)")
@pytest.mark.parametrize("kind", CAMERAS)
def test_modes_agree_with_linuxpy(devices, shipped, kind):
    node = plugged(devices, kind)
    modes, _ = read_modes(devices, shipped, node)
    theirs, _ = shipped.ask(f"linuxpy_modes({node!r})")
    known = [name for name in dict.fromkeys(mode["format"] for mode in modes) if name in mode_readers.GST_FORMATS]
    assert theirs["formats"] == known
    ranges = [
        [
            mode["format"],
            mode["sizes"]["kind"],
            *(mode["sizes"][f"{end}_{axis}"] for end in ("min", "max", "step") for axis in ("width", "height")),
        ]
        for mode in modes
        if mode["sizes"] is not None
    ]
    assert sorted(theirs["ranges"]) == sorted(ranges)
    ours = [as_linuxpy(mode) for mode in modes if mode["sizes"] is None and mode["format"] in known]
    for name in known:
        assert [rate for rate in theirs["rates"] if rate[0] == name] == [rate for rate in ours if rate[0] == name]


@needs("ffmpeg")
@pytest.mark.parametrize("kind", CAMERAS)
def test_ffmpeg_input_opens_the_node_whose_formats_ffmpeg_lists(devices, shipped, kind):
    node = plugged(devices, kind)
    modes, _ = read_modes(devices, shipped, node)
    (ffmpeg_input, _), _ = shipped.ask(f"inputs({node!r})")
    assert ffmpeg_input == ["-f", "v4l2", "-i", node]
    devices.queries.take()
    listed = mode_readers.ffmpeg_formats(ffmpeg_input)
    assert devices.queries.take()["opened"] == {node: 1}
    assert listed == mode_readers.as_ffmpeg(modes)


ENDLESS_AT = {
    "formats": ENDLESS,
    "sizes": (Format(b"MJPG", "Motion-JPEG", ENDLESS),),
    "rates": (Format(b"MJPG", "Motion-JPEG", (Size(640, 480, ENDLESS),)),),
}


@pytest.mark.parametrize("level", ENDLESS_AT)
def test_a_node_that_never_ends_an_enumeration_gives_a_bounded_reading(devices, shipped, level):
    node = plugged(devices, (0, ENDLESS_AT[level]))
    modes, taken = read_modes(devices, shipped, node)
    assert isinstance(modes, list), modes
    assert taken["opened"] == {node: 1}
    assert 0 < sum(taken["requests"][node].values()) <= CALLS
    assert len(modes) == len({repr(mode) for mode in modes}) <= CALLS
    if level == "formats":
        assert len({mode["format"] for mode in modes}) <= PER_LEVEL
    else:
        assert {mode["format"] for mode in modes} == {"MJPG"} and len(modes) <= PER_LEVEL


# The hostile camera: the discrete one, gone at its n-th question of one kind.
GOING = {
    "formats": (VIDIOC_ENUM_FMT, 2),
    "sizes": (VIDIOC_ENUM_FRAMESIZES, 3),
    "rates": (VIDIOC_ENUM_FRAMEINTERVALS, 4),
}
NAMES = {
    VIDIOC_ENUM_FMT: "VIDIOC_ENUM_FMT",
    VIDIOC_ENUM_FRAMESIZES: "VIDIOC_ENUM_FRAMESIZES",
    VIDIOC_ENUM_FRAMEINTERVALS: "VIDIOC_ENUM_FRAMEINTERVALS",
}


@pytest.mark.parametrize("level", GOING)
def test_a_node_that_goes_away_halfway_raises_camera_error_with_enodev(devices, shipped, level):
    node = plugged(devices, "discrete")
    unplugged = devices.plugged[-1]
    request, nth = GOING[level]

    def gone():
        for gone_node in unplugged.nodes:
            devices.queries.nodes.pop(gone_node.devnode, None)
        devices.vanish(unplugged)

    devices.queries.hooks[(node, request, nth)] = gone
    failure, taken = read_modes(devices, shipped, node)
    assert failure["error"] == "CameraError" and failure["oserror"]
    assert failure["errno"] == errno.ENODEV and failure["strerror"] == "No such device"
    assert failure["step"] == f"{NAMES[request]} {node}"
    assert taken["opened"] == {node: 1} and taken["requests"][node][request] == nth


# Entries no real camera gives, each beside a sound one that must come through: a size of 0 or past
# any real one, a range with a step of 0 or upside down, an interval with a denominator or numerator
# of 0, an entry twice.
SOUND = Size(640, 480, ((1, 30),))
HOSTILE = {
    "zero size": (Size(0, 480), SOUND),
    "absurd size": (Size(1 << 31, 1 << 31), SOUND),
    "interval over 0": (Size(640, 480, ((1, 0), (1, 30))),),
    "interval of 0": (Size(640, 480, ((0, 30), (1, 30))),),
    "duplicates": (SOUND, SOUND),
}
HOSTILE_RANGES = {  # the range, and what is left of its format
    "stepwise step of 0": (Sizes(160, 120, 1280, 960, 0, 0), ()),
    "range upside down": (Sizes(1280, 960, 160, 120, 16, 8), ()),
    "range of intervals over 0": (Size(640, 480, Intervals((1, 0), (1, 1), continuous=True)), (Size(640, 480, ()),)),
}


@pytest.mark.parametrize("case", [*HOSTILE, *HOSTILE_RANGES])
def test_entries_no_camera_gives_are_left_out_and_the_sound_ones_kept(devices, shipped, case):
    # A range is the only entry of its level: its format comes with a sound second format.
    sound = (Format(b"MJPG", "Motion-JPEG", (SOUND,)),)
    if case in HOSTILE:
        table = (Format(b"MJPG", "Motion-JPEG", HOSTILE[case]),)
    else:
        hostile, left = HOSTILE_RANGES[case]
        table = (Format(b"YUYV", "YUYV 4:2:2", (hostile,)), *sound)
        sound = (Format(b"YUYV", "YUYV 4:2:2", left), *sound)
    node = plugged(devices, (0, table))
    modes, taken = read_modes(devices, shipped, node)
    assert taken["opened"] == {node: 1}
    assert modes == declared(sound)
