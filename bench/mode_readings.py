"""The readings of one node's modes that bench/modes_compare.py times, in a process of its own under
the interpreter that has zorvekcam and linuxpy installed: Camera.modes(); linuxpy's frame types, the
one call that gives a linuxpy user a node's formats, sizes and rates, in process; v4l2-ctl
--list-formats-ext, a process; and beside them the floor, no reading: the node opened, asked K times
VIDIOC_ENUM_FMT for its first format, closed, K being the ioctls one modes() makes. One JSON command
per line on standard input, one JSON line back.

    {"do": "once", "tool": T, "node": N, "calls": K}        one reading by T: how many entries it gave
    {"do": "rounds", "node": N, "calls": K, "rounds": R,     every tool in every round, the order
     "batch": B}                                            turning; each reads for about B seconds
                                                            a round (and at least once): the seconds
                                                            per reading, per tool and round
"""
import fcntl
import json
import logging
import os
import struct
import subprocess
import sys
import time

TOOLS = ("modes", "linuxpy", "v4l2-ctl", "floor")
VIDIOC_ENUM_FMT = 0xC0405602
# linuxpy warns of each FourCC it does not know on every reading; its log is left out of its time.
logging.getLogger("linuxpy").setLevel(logging.ERROR)


def reader(tool, node, calls):
    """A function that reads the node's modes once and returns how many entries it gave."""
    if tool == "modes":
        import zorvekcam
        camera = next(camera for camera in zorvekcam.list_devices() if camera.node == node)
        return lambda: len(camera.modes())
    if tool == "linuxpy":
        from linuxpy.video.device import Device

        def linuxpy():
            with Device(node, read_write=False) as device:
                return len(device.info.frame_types)
        return linuxpy
    if tool == "v4l2-ctl":
        def v4l2_ctl():
            done = subprocess.run(["v4l2-ctl", "--list-formats-ext", "-d", node], capture_output=True, check=True)
            return done.stdout.count(b"\tSize: ")
        return v4l2_ctl
    if tool == "floor":
        def floor():
            descriptor = os.open(node, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC)
            try:
                for _ in range(calls):
                    fcntl.ioctl(descriptor, VIDIOC_ENUM_FMT, bytearray(struct.pack("<II56x", 0, 1)))
            finally:
                os.close(descriptor)
            return calls
        return floor
    raise ValueError(tool)


def rounds(node, calls, count, batch):
    readers = {tool: reader(tool, node, calls) for tool in TOOLS}
    times = {tool: [] for tool in TOOLS}
    for number in range(count):
        for tool in TOOLS[number % len(TOOLS):] + TOOLS[:number % len(TOOLS)]:
            read, calls = readers[tool], 0
            start = time.perf_counter()
            while True:
                read()
                calls += 1
                elapsed = time.perf_counter() - start
                if elapsed >= batch:
                    break
            times[tool].append(elapsed / calls)
    return times


def main():
    answers = sys.stdout
    for line in sys.stdin:
        command = json.loads(line)
        if command["do"] == "once":
            answer = reader(command["tool"], command["node"], command.get("calls", 0))()
        else:
            answer = rounds(command["node"], command["calls"], command["rounds"], command["batch"])
        answers.write(json.dumps(answer) + "\n")
        answers.flush()


if __name__ == "__main__":
    main()
