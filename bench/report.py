"""Prints the results of one benchmark run (scripts/bench.sh) as one Markdown table, with the ratios and
the targets they are held to, then the targets alone with their verdicts.

    python bench/report.py --discovery discovery.json --python python.json [--listing listing.json]
        [--lifecycle lifecycle.json] [--sysfs sysfs.json] [--native native.json]

Times are medians: of Google Benchmark's repetitions, of the Python repeats, of the turns and rounds of
the Linux comparisons, where every ratio is taken within one turn or round before the median. The
work that only computes (matching, scripted devices, the Python call) is timed in processor time,
which other programs on a shared machine disturb less; the Linux comparisons, which wait for the
file system and the fake devices, in wall-clock time.
"""

import argparse
import json
import os
import platform
import statistics

MATCH_TARGET_NS = 100
CALL_OVERHEAD_TARGET_US = 2
IMPORT_TARGET_MS = 5
FLOOR_RATIO_TARGET = 1.15
WATCH_LATENCY_TARGET_MS = 100
LATEST_TICK_TARGET_MS = 50
PACKAGE_IMPORT_TARGET_MS = 10
LISTING_OVER_SCAN_TARGET = 1.3
COUNTING_KEPT_TARGET = 0.8
PEERS = ("cv2-enumerate-cameras", "linuxpy", "pyudev")


def duration(seconds):
    for unit, scale in (("s", 1), ("ms", 1e-3), ("µs", 1e-6)):
        if abs(seconds) >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds / 1e-9:.3g} ns"


def verdict(value, limit, text):
    if value <= limit:
        return f"{text}: met"
    return f"{text}: missed by {100 * (value / limit - 1):.0f}%"


def google_medians(report, clock="real_time"):
    """run name -> (median time in seconds, by `clock`: "real_time" or "cpu_time", and the entry)."""
    found = {}
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
    for entry in report["benchmarks"]:
        if entry.get("run_type") == "aggregate" and entry.get("aggregate_name") != "median":
            continue
        name = "/".join(
            part
            for part in entry["run_name"].split("/")
            if part != "real_time" and not part.startswith(("iterations:", "min_time:"))
        )
        seconds = entry[clock] * scale[entry["time_unit"]]
        # With repetitions the median aggregate stands for them; without, the single run does.
        if entry.get("run_type") == "aggregate" or name not in found:
            found[name] = (seconds, entry)
    return found


def discovery_rows(native, python):
    rows = []
    paths = [
        ("short", "short path"),
        ("typical", "typical path"),
        ("long", "path longer than the buffer"),
        ("no_ids", "path without IDs"),
        ("typical_traced", "typical path, scan's trace on"),
    ]
    for key, text in paths:
        seconds, entry = native[f"match/{key}"]
        target = verdict(seconds * 1e9, MATCH_TARGET_NS, f"≤ {MATCH_TARGET_NS} ns") if key == "typical" else ""
        rows.append((f"`matchDevicePath`, {text} ({entry['units']:.0f} units)", duration(seconds), "", "", target))

    per_device_64 = native["scan/64"][0] / 64
    for n in (1, 8, 64, 256):
        seconds, entry = native[f"scan/{n}"]
        per_device = seconds / n
        rows.append(
            (
                f"one scan (`initialize`), {n} scripted device{'s' * (n > 1)}",
                duration(seconds),
                duration(per_device),
                f"{per_device / per_device_64:.2f} × per device at 64; {entry['walks_per_call']:.0f} walk",
                "linear in N, 1 walk: met"
                if n == 256 and entry["walks_per_call"] == 1 and per_device / per_device_64 <= 1.25
                else "",
            )
        )
    for n in (1, 4, 16):
        seconds, entry = native[f"listInfo/{n}"]
        walks = entry["walks_per_call"]
        devices = entry["devices"]
        rows.append(
            (
                f"`getDeviceListInfo({n})`, {devices:.0f} scripted devices, 16 targets",
                duration(seconds),
                duration(seconds / (walks * devices)) + " per device walked",
                f"{walks:.0f} walks per call",
                verdict(walks, 2 * n, f"≤ {2 * n} walks"),
            )
        )

    rows.append(
        (
            "`getDeviceCount`, native, 1 scripted device (in turns with Python)",
            duration(python["native_count_s"]),
            "",
            "",
            "",
        )
    )
    overhead = python["overhead_s"]
    rows.append(
        (
            "`Zorvek.getDeviceCount(0)` from Python, same device",
            duration(python["count_call_s"]),
            "",
            f"{duration(overhead)} above native",
            verdict(overhead * 1e6, CALL_OVERHEAD_TARGET_US, f"≤ {CALL_OVERHEAD_TARGET_US} µs"),
        )
    )
    rows.append(
        (
            "the same with `PYTHONUNBUFFERED=1` (every trace text a write)",
            duration(python["count_call_unbuffered_s"]),
            "",
            f"{duration(python['unbuffered_overhead_s'])} above native",
            "",
        )
    )
    rows.append(
        (
            "`import Zorvek` (fresh interpreter, `-X importtime`)",
            f"{python['import_ms']:.2f} ms",
            "",
            "",
            verdict(python["import_ms"], IMPORT_TARGET_MS, f"≤ {IMPORT_TARGET_MS} ms"),
        )
    )
    rows.append(
        (
            "`import zorvekcam` (fresh interpreter, `-X importtime`, cumulative)",
            f"{python['package_import_ms']:.2f} ms",
            "",
            "",
            verdict(python["package_import_ms"], PACKAGE_IMPORT_TARGET_MS, f"≤ {PACKAGE_IMPORT_TARGET_MS} ms"),
        )
    )
    return rows


def paired_times(native):
    paired = native["scanOverFloor"][1]
    return {
        "walk": paired["walk_s"],
        "floor": paired["floor_s"],
        "walk/floor": paired["ratio"],
        "walk/floor cpu": paired["cpu_ratio"],
        "found": paired["targets_found"],
    }


def expected_targets(nodes):
    return (nodes // 2 + 1) // 2  # every other camera of nodes // 2, the first one included


def found_note(rounds, sysfs):
    found = {times["found"] for times in rounds}
    expected = expected_targets(sysfs["nodes"])
    return "" if found == {expected} else f" (found {sorted(found)} targets, not {expected}: ratio void)"


def scan_over_floor_rows(median, nodes, what, nodes_are):
    """The scan's rows against its floor (the same nodes read without the scan): wall clock, then the
    scanning thread's processor time only."""
    walk_over_floor = median("walk/floor")
    return [
        (
            what,
            duration(median("walk")),
            duration(median("walk") / nodes),
            f"walk/floor {walk_over_floor:.2f}",
            verdict(walk_over_floor, FLOOR_RATIO_TARGET, f"≤ {FLOOR_RATIO_TARGET}"),
            f"Zorvek's scan over its floor, {nodes} {nodes_are}",
        ),
        (
            "… counting the scanning thread's processor time only",
            "",
            "",
            f"walk/floor {median('walk/floor cpu'):.2f}",
            "",
        ),
    ]


def native_rows(native_result):
    nodes = native_result["nodes"]
    rounds = [
        {name: seconds for name, (seconds, _) in google_medians(r["native"]).items()}
        | paired_times(google_medians(r["native"]))
        for r in native_result["rounds"]
    ]

    def median(name):
        return statistics.median(times[name] for times in rounds)

    title = f"Linux, the same {nodes} nodes as plain files (no umockdev, VIDIOC_QUERYCAP refused)"
    rows = [(f"{title}: floor", duration(median("floor")), duration(median("floor") / nodes), "", "")]
    for part in ("floor_device_queries", "floor_sysfs_reads"):
        rows.append(
            (
                f"… of which {part[len('floor_') :].replace('_', ' ')}, on their own",
                duration(median(part)),
                duration(median(part) / nodes),
                "",
                "",
            )
        )
    rows += scan_over_floor_rows(
        median,
        nodes,
        f"one scan over them, in turns with the floor{found_note(rounds, native_result)}",
        "nodes as plain files",
    )
    # What a user waits for: a count, then the records of k cameras (two nodes each), every walk at
    # the scan's cost per node measured above.
    per_node = median("walk") / nodes
    for k in (1, 2, 4):
        walks = 1 + 2 * k
        rows.append(
            (
                f"estimate: `getDeviceCount`, then `getDeviceListInfo({k})` with {k} camera{'s' * (k > 1)}"
                f" ({2 * k} nodes)",
                duration(walks * 2 * k * per_node),
                "",
                f"{walks} walks",
                "",
            )
        )
    return rows


def sysfs_rows(sysfs):
    nodes = sysfs["nodes"]
    rounds = []
    for round_ in sysfs["rounds"]:
        native = google_medians(round_["native"])
        times = {name: seconds for name, (seconds, _) in native.items()}
        times.update(paired_times(native))
        rounds.append(times)

    def median(name):
        return statistics.median(times[name] for times in rounds)

    def ratio(a, b):
        return statistics.median(times[a] / times[b] for times in rounds)

    title = f"Linux, {nodes} fake nodes ({sysfs['cameras']} cameras, {sysfs['target_cameras']} targets)"
    rows = [(f"{title}: floor, the bare reader", duration(median("floor")), duration(median("floor") / nodes), "", "")]
    for part in ("floor_device_queries", "floor_sysfs_reads"):
        rows.append(
            (
                f"… of which {part[len('floor_') :].replace('_', ' ')}, on their own",
                duration(median(part)),
                duration(median(part) / nodes),
                f"{ratio(part, 'floor'):.2f} of the floor",
                "",
            )
        )
    rows += scan_over_floor_rows(
        median,
        nodes,
        f"one scan (`initialize`) over the same nodes, in turns with the floor{found_note(rounds, sysfs)}",
        "fake nodes under umockdev",
    )
    return rows


def counts_text(counts):
    return f"{counts['opened']} opens, {counts['asked']} VIDIOC_QUERYCAP"


def mixed_rows(mixed):
    """8 targets and 8 others: list_devices() against the bare scan, their opens, and the counting thread."""
    nodes = mixed["nodes"]
    turns = mixed["turns"]
    listing, scan = statistics.median(turns["listing_s"]), statistics.median(turns["scan_s"])
    ratio = statistics.median(a / b for a, b in zip(turns["listing_s"], turns["scan_s"]))
    title = f"Linux, {mixed['targets']} target cameras and {mixed['others']} others ({nodes} fake nodes)"
    rows = [
        (
            f"{title}: `zorvekcam.list_devices()`, in turns with the bare scan",
            duration(listing),
            duration(listing / nodes),
            f"list/scan {ratio:.2f}",
            verdict(ratio, LISTING_OVER_SCAN_TARGET, f"≤ {LISTING_OVER_SCAN_TARGET}"),
            "`list_devices()` over the bare scan, 8 targets and 8 others",
        )
    ]
    rows.append(("… the bare scan, `Zorvek.getDeviceCount(0)`", duration(scan), duration(scan / nodes), "", ""))
    for tool, text in (("zorvekcam", "one `list_devices()`"), ("Zorvek", "one bare scan")):
        counts = mixed["once"][tool]["counts"]
        other = counts["other"]["opened"]
        rows.append(
            (
                f"… opens of the other cameras' {nodes // 2} nodes by {text}",
                "",
                "",
                f"others: {counts_text(counts['other'])}; targets: {counts_text(counts['target'])}",
                ("0: met" if other == 0 else f"0: missed ({other})") if tool == "zorvekcam" else "",
                "opens of the other cameras' nodes by one `list_devices()`",
            )
        )
    return rows + counting_rows(mixed["gil"])


def counting_rows(gil):
    def kept(beside):
        return statistics.median(b["rate"] / a["rate"] for a, b in zip(gil["alone"], gil[beside]))

    def share(key):
        return statistics.median(run[key] / run["seconds"] for run in gil["beside"])

    here = kept("beside")
    missed = 100 * (COUNTING_KEPT_TARGET - here)
    looped = gil["beside"] + gil["beside_elsewhere"]
    seconds = sum(run["seconds"] for run in looped)

    def per_listing(place):
        return duration(sum(run["seconds"] for run in gil[place]) / sum(run["listings"] for run in gil[place]))

    rows = [
        (
            "a pure-Python counting thread beside a thread calling `list_devices()` in a loop, "
            f"{len(gil['beside'])} s in turns with it alone",
            "",
            "",
            f"{100 * here:.1f}% of its rate alone",
            "≥ 80%: met" if missed <= 0 else f"≥ 80%: missed by {missed:.1f} points",
            "a counting thread's rate beside a listing loop, of its rate alone",
        )
    ]
    rows.append(
        (
            "… the counting thread's time beside the loop (the kernel's schedstat)",
            "",
            "",
            f"running {100 * share('on_cpu'):.0f}%, waiting for a processor "
            f"{100 * share('waiting_for_cpu'):.0f}%, waiting for the interpreter's lock "
            f"{100 * share('waiting_for_lock'):.1f}%",
            "",
        )
    )
    rows.append(
        (
            "… the same loop in another process instead, which shares no lock with the counting thread",
            "",
            "",
            f"{100 * kept('beside_elsewhere'):.1f}% of its rate alone",
            "",
        )
    )
    rows.append(
        (
            "… the loop, a listing every",
            f"{per_listing('beside')} beside the counting thread, {per_listing('beside_elsewhere')} in another process",
            "",
            f"processors busy: the listing thread {sum(run['lister_on_cpu'] for run in looped) / seconds:.2f}, "
            f"the fake devices' handler {gil['handler_on_cpu'] / seconds:.2f}",
            "",
        )
    )
    return rows


def plural(count, noun):
    return f"{count} {noun}{'s' * (count != 1)}"


def listed_text(once, capture_nodes):
    listed = [entry[0] for entry in once["listed"]]
    notes = [f"lists {plural(len(listed), 'node')}"]
    extra = [node for node in listed if node not in capture_nodes]
    if extra:
        notes.append(f"{plural(len(extra), 'metadata node')} among them")
    missing = set(capture_nodes) - set(listed)
    if missing:
        notes.append(f"misses {plural(len(missing), 'capture node')}")
    with_ids = sum(1 for entry in once["listed"] if entry[1] and entry[2])
    notes.append(
        "with the USB IDs" if with_ids == len(listed) else "no USB IDs" if with_ids == 0 else f"IDs for {with_ids} only"
    )
    opened = sum(group["opened"] for group in once["counts"].values())
    asked = sum(group["asked"] for group in once["counts"].values())
    notes.append(f"{plural(opened, 'open')}, {asked} VIDIOC_QUERYCAP")
    return ", ".join(notes)


def listed_text_of(at, tool):
    """What `tool` listed: list_devices() the target cameras' capture nodes, a peer every camera's."""
    return listed_text(at["once"][tool], at["target_capture_nodes" if tool == "zorvekcam" else "capture_nodes"])


def peer_rows(peers, held):
    """Per number of cameras: list_devices() and the peers' complete listings, interleaved round by round;
    `held` to the target, or not."""
    rows = []
    for at in peers:
        rounds = at["rounds"]
        nodes = at["nodes"]

        def median(tool):
            return statistics.median(r[tool] for r in rounds)

        def ratio(tool):
            return statistics.median(r["zorvekcam"] / r[tool] for r in rounds)

        best = min(PEERS, key=median)
        cameras = f"{at['cameras']} camera{'s' * (at['cameras'] > 1)}"
        kinds = "all of the target model" if at["targets"] == at["cameras"] else f"{at['targets']} of the target model"
        over_best = ratio(best)
        target = (
            "< 1 × the best peer: met"
            if over_best < 1
            else f"< 1 × the best peer: missed by {100 * (over_best - 1):.0f}%"
        )
        rows.append(
            (
                f"Linux, {cameras} ({kinds}, {nodes} nodes), {len(rounds)} rounds: `list_devices()`: "
                f"{listed_text_of(at, 'zorvekcam')}",
                duration(median("zorvekcam")),
                duration(median("zorvekcam") / nodes),
                f"{over_best:.2f} × the best peer ({best})",
                target if held else "",
                f"`list_devices()` against the best peer's complete listing, {cameras}",
            )
        )
        for tool in PEERS:
            rows.append(
                (
                    f"… peer `{tool}`: {listed_text_of(at, tool)}",
                    duration(median(tool)),
                    duration(median(tool) / nodes),
                    f"list/peer {ratio(tool):.2f}",
                    "",
                )
            )
        rows.append(
            (
                "… every node opened and asked VIDIOC_QUERYCAP, nothing else (no listing)",
                duration(median("asks")),
                duration(median("asks") / nodes),
                f"list/asks {ratio('asks'):.2f}",
                "",
            )
        )
    return rows


REPEATED_OVER_PYUDEV_TARGET = 0.5


def opens_text(opened, expected=None):
    """How many opens, and whether they were exactly one of each of `expected`'s nodes."""
    count = sum(opened.values())
    if expected is None:
        return plural(count, "open")
    only = opened == {node: 1 for node in expected}
    return f"{plural(count, 'open')}" + (
        f", one of each of {', '.join(expected)}" if only else f" ({', '.join(sorted(opened)) or 'none'})"
    )


def lifecycle_rows(lifecycle):
    """list_devices() over a process's life, every camera of the target model, against pyudev's
    complete listing and the other peers in the same rounds."""
    rows = []
    for at in lifecycle["at"]:
        rounds, nodes, opened = at["rounds"], at["nodes"], at["opened"]
        cameras = f"{at['cameras']} camera{'s' * (at['cameras'] > 1)}"

        def median(name):
            return statistics.median(r[name] for r in rounds)

        def over(name, other="pyudev"):
            return statistics.median(r[name] / r[other] for r in rounds)

        def row(text, name, ratio, target="", label=None):
            rows.append(
                (
                    text,
                    duration(median(name)),
                    duration(median(name) / nodes),
                    ratio,
                    target,
                    *([label] if label else []),
                )
            )

        title = f"Linux, {cameras} (all of the target model, {nodes} nodes), {len(rounds)} rounds"
        first = f"{title}: a new process's first `list_devices()`, {opens_text(opened['first'])}"
        if "first_today" in rounds[0]:
            ratio = over("first", "first_today")
            row(
                first,
                "first",
                f"{ratio:.2f} × the earlier build's",
                verdict(ratio, 1, "≤ 1 × the earlier build's"),
                f"a first listing against the earlier build's, {cameras}",
            )
            row(
                f"… the earlier build's first listing (its first two listings: {opens_text(opened['first_today'])})",
                "first_today",
                f"{over('first_today'):.2f} × pyudev",
            )
        else:
            row(first, "first", f"{over('first'):.2f} × pyudev")
        if "first_udev" in rounds[0]:
            count = sum(opened["first_udev"].values())
            row(
                f"… a first listing with udev's database, an entry per node (systemd 247 and later): "
                f"{opens_text(opened['first_udev'])}",
                "first_udev",
                f"{over('first_udev'):.2f} × pyudev",
                f"0 opens: {'met' if count == 0 else 'missed'}",
                f"opens of a first listing with udev's entries, {cameras}",
            )
        repeated = over("zorvekcam")
        limit = REPEATED_OVER_PYUDEV_TARGET if at["cameras"] > 1 else 1
        held = (
            verdict(repeated, limit, f"≤ {limit} × pyudev")
            if at["cameras"] > 1
            else ("< 1 × pyudev: met" if repeated < 1 else f"< 1 × pyudev: missed by {100 * (repeated - 1):.0f}%")
        )
        row(
            f"… `list_devices()` repeated, nothing changed: {opens_text(opened['repeated'])}",
            "zorvekcam",
            f"{repeated:.2f} × pyudev",
            held,
            f"a repeated listing against pyudev's, {cameras}",
        )
        count = sum(opened["repeated"].values())
        rows.append(
            (
                "… opens of a repeated listing",
                "",
                "",
                plural(count, "open"),
                f"0: {'met' if count == 0 else 'missed'}",
                f"opens of a repeated listing, {cameras}",
            )
        )
        replugged = opened["after_replug"] == {node: 1 for node in at["replugged_nodes"]}
        row(
            f"… `list_devices()` after one camera was replugged: {opens_text(opened['after_replug'], at['replugged_nodes'])}",
            "after_replug",
            f"{over('after_replug'):.2f} × pyudev",
            f"only that camera's nodes: {'met' if replugged else 'missed'}",
            f"opens of a listing after a replug, {cameras}",
        )
        for tool in PEERS:
            row(f"… peer `{tool}`'s complete listing: {opens_text(opened[tool])}", tool, f"{over(tool):.2f} × pyudev")
        row(
            "… every node opened and asked VIDIOC_QUERYCAP, nothing else (no listing)",
            "asks",
            f"{over('asks'):.2f} × pyudev",
        )
        walked = opened["watch_walk"] == {node: 1 for node in at["hotplugged_nodes"]}
        rows.append(
            (
                "… a watch's walk after one more camera was plugged in",
                "",
                "",
                opens_text(opened["watch_walk"], at["hotplugged_nodes"]),
                f"only the new camera's nodes: {'met' if walked else 'missed'}",
                f"opens of a watch's walk after a hotplug, {cameras}",
            )
        )
    return rows


def watch_rows(watch):
    rows = []
    for kind, action in (("added", "plugged in"), ("removed", "unplugged")):
        times = watch[f"{kind}_s"]
        median = statistics.median(times)
        rows.append(
            (
                f"`watch()`: a camera {action} (2 nodes, uevents) until `{kind}`, median of {len(times)}",
                duration(median),
                "",
                f"slowest {duration(max(times))}",
                verdict(median * 1e3, WATCH_LATENCY_TARGET_MS, f"≤ {WATCH_LATENCY_TARGET_MS} ms"),
            )
        )
    idle = f"{watch['idle_walks']} walks, {watch['idle_nodes_opened']} nodes opened"
    rows.append(
        (
            f"`watch()` with nothing happening for {watch['idle_s']:g} s",
            "",
            "",
            idle,
            "none: met" if watch["idle_walks"] == watch["idle_nodes_opened"] == 0 else "none: missed",
        )
    )
    burst = watch["burst_of_8"]
    rows.append(
        (
            "`watch()`: 8 cameras plugged in one burst, until the 8th `added`",
            duration(burst["last_s"]),
            "",
            f"{burst['added']} `added`, {burst['walks']} walk{'s' * (burst['walks'] != 1)}",
            "8 events: met" if burst["added"] == 8 else "8 events: missed",
        )
    )
    latest = watch["awatch"]["latest_tick_s"]
    rows.append(
        (
            "`awatch()`: the latest tick of a 10 ms timer while cameras come and go",
            duration(latest),
            "",
            "",
            verdict(latest * 1e3, LATEST_TICK_TARGET_MS, f"≤ {LATEST_TICK_TARGET_MS} ms"),
        )
    )
    return rows


MODES_OVER_LINUXPY_TARGET = 0.5


def modes_rows(modes):
    """Camera.modes() of one fake camera against linuxpy's and v4l2-ctl's readings of its node, and
    the floor (bench/modes_compare.py)."""
    rows = []
    for name, result in modes["umockdev"].items():
        node, once, median, ratio = result["node"], result["once"], result["median"], result["ratio"]

        def counts(tool):
            return f"{opens_text(once[tool]['opened'], [node])}, {plural(once[tool]['ioctls'], 'ioctl')}"

        # Held to the target where linuxpy reads the same modes: it leaves out ranges of sizes and the
        # formats it does not know, which modes() reads (and pays ioctls for).
        one_open = once["modes"]["opened"] == {node: 1}
        same = once["modes"]["entries"] == once["linuxpy"]["entries"]
        target = (
            verdict(
                ratio["linuxpy"] if one_open else float("inf"), MODES_OVER_LINUXPY_TARGET, "≤ 0.5 × linuxpy, 1 open"
            )
            if same
            else ""
        )
        rows.append(
            (
                f"Linux, one fake camera with {name}: `Camera.modes()`, "
                f"{plural(once['modes']['entries'], 'mode')}, {counts('modes')}",
                duration(median["modes"]),
                "",
                f"modes/linuxpy {ratio['linuxpy']:.2f}",
                target,
                f"`modes()`, a camera with {name}, against linuxpy",
            )
        )
        rows.append(
            (
                f"… linuxpy's `frame_types` (in process), {plural(once['linuxpy']['entries'], 'frame type')}, "
                f"{counts('linuxpy')}",
                duration(median["linuxpy"]),
                "",
                "",
                "",
            )
        )
        rows.append(
            (
                f"… `v4l2-ctl --list-formats-ext` (a process), {plural(once['v4l2-ctl']['entries'], 'size')}, "
                f"{counts('v4l2-ctl')}",
                duration(median["v4l2-ctl"]),
                "",
                f"modes/v4l2-ctl {ratio['v4l2-ctl']:.3f}",
                "",
            )
        )
        rows.append(
            (
                f"… the floor: as many bare ioctls as `modes()` makes, {counts('floor')}",
                duration(median["floor"]),
                "",
                f"modes/floor {ratio['floor']:.2f}",
                "",
            )
        )
    table = modes["in_process"]
    once, median, ratio = table["once"], table["median"], table["ratio"]
    rows.append(
        (
            "Linux, the discrete camera's table answered in the reading process (a preloaded library, no "
            f"umockdev), {table['rounds']} rounds: `Camera.modes()`, "
            f"{plural(once['modes']['answered'], 'ioctl')}",
            duration(median["modes"]),
            "",
            f"modes/linuxpy {ratio['linuxpy']:.2f}",
            "",
        )
    )
    rows.append(
        (
            f"… linuxpy's `frame_types`, {plural(once['linuxpy']['answered'], 'ioctl')}",
            duration(median["linuxpy"]),
            "",
            "",
            "",
        )
    )
    rows.append(
        (
            f"… the floor: {plural(once['floor']['answered'], 'bare ioctl')} from Python",
            duration(median["floor"]),
            "",
            f"modes/floor {ratio['floor']:.2f}",
            "",
        )
    )
    return rows


def machine(load_before, load_after):
    """One line on where the numbers come from."""
    model = "unknown CPU"
    with open("/proc/cpuinfo") as cpuinfo:
        for line in cpuinfo:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    text = f"Machine: {len(os.sched_getaffinity(0))} CPUs ({model}), Linux {platform.release()}"
    for when, path in (("before", load_before), ("after", load_after)):
        if path:
            with open(path) as file:
                text += f"; load average {when}: {file.read().split('load average:')[1].strip()}"
    return text + "."


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--discovery", required=True)
    parser.add_argument("--python", required=True)
    parser.add_argument("--sysfs")
    parser.add_argument("--native")
    parser.add_argument("--watch")
    parser.add_argument("--listing")
    parser.add_argument("--lifecycle")
    parser.add_argument("--modes")
    parser.add_argument("--load-before", help="what uptime printed before the run")
    parser.add_argument("--load-after", help="what uptime printed after it")
    args = parser.parse_args()
    print(machine(args.load_before, args.load_after))
    print()
    with open(args.discovery) as file:
        # Processor time: on a shared machine it leaves out the time spent waiting for a core.
        native = google_medians(json.load(file), clock="cpu_time")
    with open(args.python) as file:
        python = json.load(file)
    rows = discovery_rows(native, python)
    if args.listing:
        with open(args.listing) as file:
            listing = json.load(file)
        rows += mixed_rows(listing["mixed"])
        for mix, peers in listing["peers"].items():
            rows += peer_rows(peers, held=mix == "target")
    if args.lifecycle:
        with open(args.lifecycle) as file:
            rows += lifecycle_rows(json.load(file))
    if args.modes:
        with open(args.modes) as file:
            rows += modes_rows(json.load(file))
    if args.sysfs:
        with open(args.sysfs) as file:
            rows += sysfs_rows(json.load(file))
    if args.native:
        with open(args.native) as file:
            rows += native_rows(json.load(file))
    if args.watch:
        with open(args.watch) as file:
            rows += watch_rows(json.load(file))

    header = ("measurement", "time", "per device", "ratio", "target")
    print("| " + " | ".join(header) + " |")
    print("|" + "|".join(["---"] + ["--:"] * 3 + ["---"]) + "|")
    for row in rows:
        print("| " + " | ".join(row[:5]) + " |")

    # The rows held to a target once more, on their own; a sixth field, where a row has one, names
    # the row there more briefly.
    print()
    print("| target | measured | verdict |")
    print("|---|--:|---|")
    for measurement, time, _, ratio, target, *label in rows:
        if target:
            limit, _, outcome = target.partition(": ")
            print(f"| {(label or [measurement])[0]}: {limit} | {ratio or time} | {outcome} |")


if __name__ == "__main__":
    main()
