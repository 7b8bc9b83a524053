"""Runs in a process of its own for test_stress.py, started with scripted.child_env(): calls the
test build of the module many times over scripted devices. Standard output is left to the module's
trace; the findings go to a JSON file.

    python stress_child.py <plan.json> <findings.json>

The plan: {"scripts": [{"devices": [Device fields...], "script": {attach keywords}}, ...],
           "threads": t, "rounds": r, "warmup": w, "reference": bool}.
After `warmup` rounds per thread over every script, for each script in turn: with "reference", one
round on this thread alone, then a line THREADS on standard output; then `rounds` rounds on each of
`threads` threads started together. A round is
three calls with fresh records: getDeviceCount, getDeviceInfo of slot 0 and getDeviceListInfo of 2.
"""
import collections
import ctypes
import json
import os
import sys
import threading

import scripted

THREADS_START = b"\nTHREADS\n"


def fields(record):
    return [record.friendlyName, record.vid, record.pid, record.devicePath]


def one_round(zorvek, records):
    """What a caller sees of one round: each call's result and the records it left."""
    info, listed = records.DeviceInfo(1), records.DeviceInfo(2)
    return json.dumps([
        zorvek.getDeviceCount(0),
        zorvek.getDeviceInfo(0, info), fields(info[0]),
        zorvek.getDeviceListInfo(2, listed), [fields(r) for r in listed],
    ])


def resident_kib():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


def main(plan_file, findings_file):
    with open(plan_file) as f:
        plan = json.load(f)
    devices = scripted.load()
    zorvek, records = devices.Zorvek, devices.records
    threads, libc = plan["threads"], ctypes.CDLL(None)

    def run(script, rounds, reference):
        devices.attach(*(scripted.Device(**d) for d in script["devices"]), **script["script"])
        if reference:
            round_seen = one_round(zorvek, records)
            walks_per_round = devices.walks()
            libc.fflush(None)
            os.write(1, THREADS_START)
        seen = [collections.Counter() for _ in range(threads)]
        start = threading.Barrier(threads)

        def caller(counter):
            start.wait()
            for _ in range(rounds):
                counter[one_round(zorvek, records)] += 1

        workers = [threading.Thread(target=caller, args=(seen[i],)) for i in range(threads)]
        for worker in workers:
            worker.start()
        for worker in workers:
            worker.join()
        libc.fflush(None)
        found = {"seen": seen, "walks": devices.walks(),
                 "live_references": devices.live_references(), "live_bstrs": devices.live_bstrs()}
        if reference:
            found.update(reference_round=round_seen, walks_per_round=walks_per_round)
        return found

    # Switch threads as often as the interpreter will, so that calls interleave as finely as its
    # lock allows.
    sys.setswitchinterval(1e-6)
    for script in plan["scripts"]:
        run(script, plan["warmup"], reference=False)
    before = resident_kib()
    found = [run(script, plan["rounds"], reference=plan["reference"]) for script in plan["scripts"]]
    growth = resident_kib() - before
    with open(findings_file, "w") as f:
        json.dump({"scripts": found, "rss_before_kib": before, "rss_growth_kib": growth}, f)


if __name__ == "__main__":
    main(*sys.argv[1:])
