"""The readings of one node's modes that bench/modes_compare.py times, in a process of its own under
the interpreter that has zorvekcam and linuxpy installed: Camera.modes(); linuxpy's frame types, the
one call that gives a linuxpy user a node's formats, sizes and rates, in process; v4l2-ctl
--list-formats-ext, a process; and beside them the floor, no reading: the node opened, asked K times
VIDIOC_ENUM_FMT for its first format, closed, K being the ioctls one modes() makes. One JSON command
per line on standard input, one JSON line back.

    {"do": "once", "tool": T, "node": N, "calls": K}        one reading by T: how many entries it gave,
                                                            and the ioctls the table answered for it
    {"do": "rounds", "node": N, "calls": K, "rounds": R,     every tool (of "tools", when given) in every
     "batch": B}                                            round, the order turning; each reads for
                                                            about B seconds
                                                            a round (and at least once): the seconds
                                                            per reading, per tool and round, on the
                                                            clock and in processor time

With bench/v4l2_table_preload.c preloaded (and ZORVEK_BENCH_NODE naming the node it answers), no
listing finds the node: modes() is asked of a Camera made for it.
"""

import ctypes
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

        if os.environ.get("ZORVEK_BENCH_NODE") == node:
            camera = zorvekcam.Camera("Camera", "2560", "C0D6", node, node, 0, zorvekcam.CAP_V4L2, None, None)
        else:
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


def answered():
    """The ioctls the preloaded table has answered, None without it."""
    table = ctypes.CDLL(None)
    return table.zorvek_bench_answered() if hasattr(table, "zorvek_bench_answered") else None


def once(tool, node, calls):
    read = reader(tool, node, calls)
    before = answered()
    entries = read()
    return {"entries": entries, "answered": None if before is None else answered() - before}


def rounds(node, calls, count, batch, tools=TOOLS):
    """{"wall": {tool: seconds per reading, per round}, "cpu": the same in this process's processor
    time, which leaves out the waits for the fake devices' handler and for a processor (and
    v4l2-ctl's own process)."""
    tools = tuple(tools)
    readers = {tool: reader(tool, node, calls) for tool in tools}
    times = {"wall": {tool: [] for tool in tools}, "cpu": {tool: [] for tool in tools}}
    for number in range(count):
        for tool in tools[number % len(tools) :] + tools[: number % len(tools)]:
            read, readings = readers[tool], 0
            start, start_cpu = time.perf_counter(), time.process_time()
            while True:
                read()
                readings += 1
                elapsed = time.perf_counter() - start
                if elapsed >= batch:
                    break
            times["wall"][tool].append(elapsed / readings)
            times["cpu"][tool].append((time.process_time() - start_cpu) / readings)
    return times


def main():
    answers = sys.stdout
    for line in sys.stdin:
        command = json.loads(line)
        if command["do"] == "once":
            answer = once(command["tool"], command["node"], command.get("calls", 0))
        else:
            answer = rounds(
                command["node"], command["calls"], command["rounds"], command["batch"], command.get("tools", TOOLS)
            )
        answers.write(json.dumps(answer) + "\n")
        answers.flush()


if __name__ == "__main__":
    main()
