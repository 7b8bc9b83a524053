"""What the other readers of a V4L2 node say of its modes, and our modes in each reader's terms, for
tests/linux/test_modes_peers.py: v4l2-ctl (--list-formats-ext), GStreamer's device monitor, ffmpeg
(-list_formats all); linuxpy is read in the child (zorvek_child.py). Each reader runs in a child
process of the testbed's process, whose preload answers its ioctls.

Traps: libv4l2 makes raw system calls that umockdev's preload cannot see, so v4l2-ctl runs without
-w and GStreamer without GST_V4L2_USE_LIBV4L2 (set at all, GStreamer takes it for on); GStreamer
rescans its plugins, opening every node again, unless its registry is made outside the testbed
first (registry()) and left alone (GST_REGISTRY_UPDATE=no)."""

import os
import re
import subprocess
from fractions import Fraction

PATIENCE = 60


def escaped(fourcc):
    """A FourCC's bytes as the package shows them: printable ASCII but the backslash as it is, any
    other byte as \\xNN."""
    return "".join(chr(b) if 0x20 <= b < 0x7F and b != 0x5C else f"\\x{b:02x}" for b in fourcc)


def _run(command):
    return subprocess.run(command, capture_output=True, timeout=PATIENCE)


# v4l2-ctl ---------------------------------------------------------------------------------------


def v4l2_ctl(node):
    """v4l2-ctl --list-formats-ext of `node`: (FourCC, size line, interval line or None) for every
    interval line, or every size line that has none, in its order; its lines' texts after "Size: "
    and "Interval: "."""
    done = _run(["v4l2-ctl", "--list-formats-ext", "-d", node])
    assert done.returncode == 0, done.stderr
    entries, fourcc, size, intervals = [], None, None, 0

    def size_done():
        if size is not None and not intervals:
            entries.append((fourcc, size, None))

    for line in done.stdout.split(b"\n"):
        if match := re.fullmatch(rb"\t\[\d+\]: '(.{4})' \(.*\)", line, re.S):
            size_done()
            fourcc, size = escaped(match[1]), None
        elif line.startswith(b"\t\tSize: "):
            size_done()
            size, intervals = line[8:].decode(), 0
        elif line.startswith(b"\t\t\tInterval: "):
            entries.append((fourcc, size, line[13:].decode()))
            intervals += 1
    size_done()
    return entries


def _seconds(value):
    return f"{float(value):.3f}"


def as_v4l2_ctl(mode):
    """A mode (Mode.as_dict()) as v4l2-ctl prints it: rates rounded as it rounds them, to 3 decimals."""
    sizes = mode["sizes"]
    if sizes is None:
        size = f"Discrete {mode['width']}x{mode['height']}"
    else:
        size = f"{sizes['min_width']}x{sizes['min_height']} - {sizes['max_width']}x{sizes['max_height']}"
        size = (
            f"Stepwise {size} with step {sizes['step_width']}/{sizes['step_height']}"
            if sizes["kind"] == "stepwise"
            else f"Continuous {size}"
        )
    rates = mode["rates"]
    if mode["fps"] is None:
        return (mode["format"], size, None)
    if rates is None:
        fps = Fraction(mode["fps"])
        return (mode["format"], size, f"Discrete {_seconds(1 / fps)}s ({float(fps):.3f} fps)")
    low, high = Fraction(rates["min_fps"]), Fraction(rates["max_fps"])
    span = f"{_seconds(1 / high)}s - {_seconds(1 / low)}s"
    if rates["kind"] == "stepwise":
        span += f" with step {_seconds(Fraction(rates['step_interval']))}s"
    return (mode["format"], size, f"{rates['kind'].capitalize()} {span} ({float(low):.3f}-{float(high):.3f} fps)")


# GStreamer --------------------------------------------------------------------------------------

# The caps GStreamer gives a V4L2 format: its own names for the formats it knows; it drops the rest.
GST_FORMATS = {
    "MJPG": ("image/jpeg", None),
    "YUYV": ("video/x-raw", "YUY2"),
    "GREY": ("video/x-raw", "GRAY8"),
    "RGB3": ("video/x-raw", "RGB"),
}


def registry(folder):
    """GStreamer's plugin registry, made in `folder` by a process that sees the machine's /dev, not the
    testbed's: the command prefix that runs a GStreamer tool with it. The testbed names itself in the
    C library's environment, which os.environ does not see: the tools inherit that environment, and
    env(1) adds to it."""
    registry_file = os.path.join(folder, "gst-registry.bin")
    done = _run(
        ["env", "-u", "LD_PRELOAD", "-u", "UMOCKDEV_DIR", f"GST_REGISTRY={registry_file}", "gst-inspect-1.0", "v4l2src"]
    )
    assert done.returncode == 0, done.stderr
    return ["env", "-u", "GST_V4L2_USE_LIBV4L2", f"GST_REGISTRY={registry_file}", "GST_REGISTRY_UPDATE=no"]


def _fields(text):
    """A caps structure's fields split at its top-level commas."""
    parts, depth, start = [], 0, 0
    for at, char in enumerate(text):
        depth += char in "[{"
        depth -= char in "]}"
        if char == "," and depth == 0:
            parts.append(text[start:at].strip())
            start = at + 1
    parts.append(text[start:].strip())
    return parts


def _value(text):
    """A field's value: an int, a Fraction, a name, ("list", [...]) or ("range", [...])."""
    text = re.sub(r"\((?:fraction|int)\)", "", text).strip()
    if text[0] in "[{":
        items = [_value(item) for item in text[1:-1].split(",")]
        return ("range" if text[0] == "[" else "list", items)
    if "/" in text:
        return Fraction(text)
    return int(text) if text.isdigit() else text


def gst_devices(prefix):
    """gst-device-monitor-1.0 Video/Source, run after the `prefix` that registry() gives: {device.path:
    (caps, launch line's source)}, each caps a dict of its media type ("media") and fields."""
    done = _run([*prefix, "gst-device-monitor-1.0", "Video/Source"])
    assert done.returncode == 0, done.stderr
    devices = {}
    for block in done.stdout.decode().split("Device found:")[1:]:
        caps, reading = [], False
        for line in block.split("\n"):
            if line.startswith("\tcaps  : "):
                reading, line = True, line[9:]
            elif not line.startswith("\t        "):
                reading = False
            if reading:
                media, *fields = _fields(line.strip())
                caps.append({"media": media, **{k: _value(v) for k, v in (f.split("=", 1) for f in fields)}})
        path = re.search(r"device\.path = (\S+)", block)[1]
        launch = re.search(r"gst-launch-1\.0 (.*?) ! \.\.\.", block)[1]
        devices[path] = (caps, launch)
    return devices


def from_gst(caps):
    """GStreamer's caps as (media, format, size, rates): size ("size", w, h) or ("range", [min, max,
    step] per axis); rates a list of Fractions, or ("range", low, high)."""
    entries = []
    for cap in caps:
        width, height, rate = cap["width"], cap["height"], cap.get("framerate")
        if isinstance(width, int):
            size = ("size", width, height)
        else:
            size = (
                "range",
                tuple(width[1]) + (1,) * (3 - len(width[1])),
                tuple(height[1]) + (1,) * (3 - len(height[1])),
            )
        if isinstance(rate, Fraction):
            rates = (rate,)
        elif rate is not None and rate[0] == "list":
            rates = tuple(rate[1])
        else:
            rates = ("range", *rate[1]) if rate is not None else None
        entries.append((cap["media"], cap.get("format"), size, rates))
    return entries


def as_gst(modes):
    """Our modes in GStreamer's terms: a discrete size's rates gathered into one list (in the
    device's order); a stepwise range of intervals made into its every rate, as GStreamer does; a
    range of sizes without its rates, which v4l2 itself gives only per size (see the test's docstring);
    formats GStreamer does not know left out."""
    entries, at = [], {}
    for mode in modes:
        if mode["format"] not in GST_FORMATS:
            continue
        media, name = GST_FORMATS[mode["format"]]
        sizes, rates = mode["sizes"], mode["rates"]
        if sizes is not None:
            axes = [(sizes[f"min_{axis}"], sizes[f"max_{axis}"], sizes[f"step_{axis}"]) for axis in ("width", "height")]
            entries.append((media, name, ("range", *axes), "any"))
            continue
        size = ("size", mode["width"], mode["height"])
        if rates is not None and rates["kind"] == "continuous":
            entries.append((media, name, size, ("range", Fraction(rates["min_fps"]), Fraction(rates["max_fps"]))))
        elif rates is not None:
            shortest, longest = 1 / Fraction(rates["max_fps"]), 1 / Fraction(rates["min_fps"])
            step, every = Fraction(rates["step_interval"]), []
            while shortest <= longest:
                every.append(1 / shortest)
                shortest += step
            entries.append((media, name, size, tuple(every)))
        elif (media, name, size) in at:
            entries[at[media, name, size]] = entries[at[media, name, size]][:3] + (
                entries[at[media, name, size]][3] + (Fraction(mode["fps"]),),
            )
        else:
            at[media, name, size] = len(entries)
            entries.append((media, name, size, (Fraction(mode["fps"]),)))
    return entries


# ffmpeg -----------------------------------------------------------------------------------------


def ffmpeg_formats(ffmpeg_input):
    """ffmpeg -list_formats all with the input arguments `ffmpeg_input` ([..., "-i", NODE]): each
    format's sizes as it prints them, in its order."""
    command = ["ffmpeg", "-hide_banner", "-nostdin", *ffmpeg_input[:-2], "-list_formats", "all", *ffmpeg_input[-2:]]
    done = _run(command)
    text = done.stderr.decode()
    assert "Immediate exit requested" in text, text
    return [
        re.findall(r"\{[^}]*\}x\{[^}]*\}|\d+x\d+", line.rsplit(" : ", 1)[1])
        for line in text.split("\n")
        if re.match(r"\[video4linux2,v4l2 @ \w+\] (Raw|Compressed)", line)
    ]


def as_ffmpeg(modes):
    """Our modes as ffmpeg lists a node's formats: each format's distinct sizes in order, ranges as
    {min-max, step} per axis."""
    formats = {}
    for mode in modes:
        sizes = mode["sizes"]
        if sizes is None:
            size = f"{mode['width']}x{mode['height']}"
        else:
            size = "x".join(
                f"{{{sizes[f'min_{axis}']}-{sizes[f'max_{axis}']}, {sizes[f'step_{axis}']}}}"
                for axis in ("width", "height")
            )
        listed = formats.setdefault(mode["format"], [])
        if size not in listed:
            listed.append(size)
    return list(formats.values())
