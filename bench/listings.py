"""The listings that bench/listing_compare.py times, in one process of their own: zorvekcam's
list_devices(), Zorvek's bare scan, the complete listing of each peer a Python user would pick
instead, and the bare asking of every node that any listing which asks the nodes pays at least. Run
by the benchmark over fake devices, with the interpreter that has zorvekcam and the peers installed;
it answers one JSON command per line on standard input with one JSON line. (With --loop it is the
listing loop that a counting thread is measured beside in another process.)

    {"do": "list", "tool": T}                  list once: what T lists, as [node, vendor ID, product ID]
    {"do": "turns", "iterations": K}           list_devices() and one bare scan in turns, K times each
    {"do": "gil", "times": T, "seconds": S}    a counting thread alone, beside a listing loop, and beside
                                               the loop in another process, T times each
    {"do": "rounds", "rounds": R, "batch": B}  every tool in every round, the order turning from round
                                               to round; each tool lists for about B seconds a round
                                               ("first_turn": S, where the first round starts)
    {"do": "first", "today": D}                list_devices() in a new process (with the package from
                                               folder D before the installed one, when D is given):
                                               its first listing's seconds, and its second's
    {"do": "once", "tool": T}                  one listing by T, its seconds

The answers go to a copy of standard output: the bare scan writes its trace to standard output,
which is /dev/null here (at the file-descriptor level, where the C library writes), as in the
native benchmarks.
"""

import json
import os
import subprocess
import sys
import threading
import time

# OpenCV's identifier of its V4L2 back end, which cv2-enumerate-cameras takes without OpenCV.
CAP_V4L2 = 200
VIDIOC_QUERYCAP = 0x80685600
PEERS = ("cv2-enumerate-cameras", "linuxpy", "pyudev")


def _hex(value):
    return None if value is None else f"{value:04x}"


def zorvekcam_listing():
    import zorvekcam

    def listing():
        return [(camera.node, camera.vid.lower(), camera.pid.lower()) for camera in zorvekcam.list_devices()]

    return listing


def bare_scan():
    import Zorvek

    def scan():
        # Whether any target camera is attached, and nothing more: Zorvek's own walk, which opens and
        # asks every video node for its trace.
        Zorvek.getDeviceCount(0)
        return []

    return scan


def cv2_enumerate_cameras():
    from cv2_enumerate_cameras import enumerate_cameras

    def listing():
        return [(camera.path, _hex(camera.vid), _hex(camera.pid)) for camera in enumerate_cameras(CAP_V4L2)]

    return listing


def linuxpy():
    from linuxpy.video.device import iter_video_capture_devices

    def listing():
        # The nodes that say they capture video; linuxpy knows V4L2, not USB, so it names no IDs.
        return [(str(device.filename), None, None) for device in iter_video_capture_devices()]

    return listing


def pyudev():
    import pyudev as udev

    context = udev.Context()

    def listing():
        found = []
        for device in context.list_devices(subsystem="video4linux"):
            usb = device.find_parent("usb", "usb_device")
            ids = (usb.attributes.asstring("idVendor"), usb.attributes.asstring("idProduct")) if usb else (None, None)
            found.append((device.device_node, *ids))
        return found

    return listing


def asks():
    """Not a listing: every video node opened, asked VIDIOC_QUERYCAP and closed, nothing else. What any
    listing that asks the nodes pays at least."""
    import fcntl

    capability = bytearray(104)

    def ask_all():
        for name in os.listdir("/sys/class/video4linux"):
            fd = os.open(f"/dev/{name}", os.O_RDONLY | os.O_NONBLOCK)
            try:
                fcntl.ioctl(fd, VIDIOC_QUERYCAP, capability)
            finally:
                os.close(fd)
        return []

    return ask_all


TOOLS = {
    "zorvekcam": zorvekcam_listing,
    "Zorvek": bare_scan,
    "asks": asks,
    "cv2-enumerate-cameras": cv2_enumerate_cameras,
    "linuxpy": linuxpy,
    "pyudev": pyudev,
}


def timed(call):
    start = time.perf_counter()
    call()
    return time.perf_counter() - start


def in_turns(listing, scan, iterations):
    """Each iteration one listing and one scan, which goes first alternating: the ratio is the median of
    the iterations' ratios, so that a burst of load on a shared machine moves one iteration only."""
    listings, scans = [], []
    for k in range(iterations):
        if k % 2 == 0:
            listings.append(timed(listing))
            scans.append(timed(scan))
        else:
            scans.append(timed(scan))
            listings.append(timed(listing))
    return {"listing_s": listings, "scan_s": scans}


def schedstat():
    """This thread's seconds on a processor and seconds runnable but waiting for one, as the kernel
    counts them (/proc/thread-self/schedstat)."""
    with open("/proc/thread-self/schedstat") as file:
        on_cpu, waiting, _ = file.read().split()
    return int(on_cpu) * 1e-9, int(waiting) * 1e-9


class Loop:
    """Calls `lister` over and over on a thread of its own, from start() to stop()."""

    def __init__(self, lister):
        self.lister = lister
        self.stopping = threading.Event()
        self.started = threading.Event()
        self.thread = threading.Thread(target=self._run)
        self.result = {"listings": 0}

    def _run(self):
        sched0 = schedstat()
        while not self.stopping.is_set():
            self.lister()
            self.result["listings"] += 1
            self.started.set()
        self.result["lister_on_cpu"] = schedstat()[0] - sched0[0]

    def start(self):
        self.thread.start()
        self.started.wait()

    def stop(self):
        self.stopping.set()
        self.thread.join()
        return self.result


class LoopElsewhere:
    """The same loop in a process of its own (this program with --loop), which shares no lock with
    this one: what is left of its effect on a counting thread is the processors it keeps busy."""

    def __init__(self):
        self.process = None

    def start(self):
        self.process = subprocess.Popen(
            [sys.executable, __file__, "--loop"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True
        )
        if self.process.stdout.readline() != "looping\n":
            raise SystemExit("listings: the listing loop did not start")

    def stop(self):
        self.process.stdin.close()
        result = json.loads(self.process.stdout.readline())
        self.process.wait()
        return result


def loop_elsewhere():
    answers = quiet_stdout()
    loop = Loop(zorvekcam_listing())
    loop.start()
    answers.write("looping\n")
    answers.flush()
    sys.stdin.read()
    answers.write(json.dumps(loop.stop()) + "\n")


def count_for(seconds, loop=None):
    """Increments a counter on a thread of its own for `seconds`: increments per second, and where that
    thread's time went. With `loop`, a listing loop runs meanwhile (started before the counting)."""
    stop = threading.Event()
    result = {}

    def counting():
        n = 0
        wall0, sched0 = time.perf_counter(), schedstat()
        while not stop.is_set():
            for _ in range(1000):
                n += 1
        wall, sched = time.perf_counter() - wall0, schedstat()
        on_cpu, waiting_for_cpu = (b - a for a, b in zip(sched0, sched))
        # The rest of the time the thread slept: waiting for the interpreter's lock.
        result.update(
            rate=n / wall,
            seconds=wall,
            on_cpu=on_cpu,
            waiting_for_cpu=waiting_for_cpu,
            waiting_for_lock=wall - on_cpu - waiting_for_cpu,
        )

    if loop:
        loop.start()
    counter = threading.Thread(target=counting)
    counter.start()
    time.sleep(seconds)
    stop.set()
    counter.join()
    return result | (loop.stop() if loop else {})


def gil(listing, times, seconds):
    """The counting thread alone, beside a listing loop on another thread, and beside the same loop in
    another process, in turns (which goes first turning from one time to the next)."""
    runs = {"alone": [], "beside": [], "beside_elsewhere": []}
    loops = {"alone": lambda: None, "beside": lambda: Loop(listing), "beside_elsewhere": LoopElsewhere}
    order = list(runs)
    for k in range(times):
        for name in order[k % 3 :] + order[: k % 3]:
            runs[name].append(count_for(seconds, loops[name]()))
    return runs


def first_listing(today):
    """A new process's first and second list_devices(), with the package from `today` if given."""
    environment = dict(os.environ)
    if today:
        environment["PYTHONPATH"] = today + os.pathsep + environment.get("PYTHONPATH", "")
    done = subprocess.run([sys.executable, __file__, "--first"], capture_output=True, text=True, env=environment)
    if done.returncode != 0:
        raise SystemExit(f"listings: the first listing failed: {done.stderr}")
    return json.loads(done.stdout)


def first_here():
    listing = zorvekcam_listing()
    start = time.perf_counter()
    listed = listing()
    first = time.perf_counter() - start
    second = timed(listing)
    print(json.dumps({"first_s": first, "second_s": second, "listed": len(listed)}))


def rounds(listings, count, batch, first_turn=0):
    """Seconds per listing of every tool in `count` rounds. Each tool lists `calls[tool]` times in a row
    in every round, enough for about `batch` seconds; round r starts with the r-th tool, so that no tool
    always follows the same one."""
    names = list(listings)
    calls = {}
    for name in names:
        once = min(timed(listings[name]) for _ in range(3))
        calls[name] = max(1, round(batch / once))
    times = []
    for r in range(count):
        round_ = {}
        turn = (first_turn + r) % len(names)
        for name in names[turn:] + names[:turn]:
            listing = listings[name]
            start = time.perf_counter()
            for _ in range(calls[name]):
                listing()
            round_[name] = (time.perf_counter() - start) / calls[name]
        times.append(round_)
    return {"calls_per_round": calls, "rounds": times}


def quiet_stdout():
    """Standard output to /dev/null, at the file-descriptor level; returns a copy of the old one."""
    answers = os.fdopen(os.dup(1), "w")
    sys.stdout.flush()
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, 1)
    os.close(devnull)
    return answers


def main():
    if sys.argv[1:] == ["--loop"]:
        loop_elsewhere()
        return
    if sys.argv[1:] == ["--first"]:
        first_here()
        return
    answers = quiet_stdout()
    listings = {name: make() for name, make in TOOLS.items()}
    for line in sys.stdin:
        command = json.loads(line)
        if command["do"] == "list":
            answer = sorted(listings[command["tool"]](), key=lambda entry: str(entry[0]))
        elif command["do"] == "turns":
            answer = in_turns(listings["zorvekcam"], listings["Zorvek"], command["iterations"])
        elif command["do"] == "gil":
            answer = gil(listings["zorvekcam"], command["times"], command["seconds"])
        elif command["do"] == "rounds":
            compared = {name: listings[name] for name in ("zorvekcam", *PEERS, "asks")}
            answer = rounds(compared, command["rounds"], command["batch"], command.get("first_turn", 0))
        elif command["do"] == "first":
            answer = first_listing(command.get("today"))
        elif command["do"] == "once":
            answer = timed(listings[command["tool"]])
        else:
            raise SystemExit(f"listings: no command {command['do']!r}")
        answers.write(json.dumps(answer) + "\n")
        answers.flush()


if __name__ == "__main__":
    main()
