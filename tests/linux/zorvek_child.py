"""Calls the shipped module for the umockdev tests, in a process of its own, one command per line
on stdin ("count" or "info <index>"), one JSON answer per line: the result, the trace the call
wrote on standard output, and for "info" the record's four fields in hex. The package's listing as
well: "list" answers with the [node, path] of every camera zorvekcam.list_devices() lists, and
"threads <T> <K>" with the distinct answers of T threads that list K times each, all at once.

Arguments: folders to put first on sys.path (where Zorvek and zorvek_records are, when the
interpreter is not the one they were installed into). The environment is inherited untouched: the
testbed's redirection lives in it.
"""
import json
import locale
import os
import sys
from pathlib import Path

sys.path[:0] = [*sys.argv[1:], str(Path(__file__).resolve().parents[1] / "support")]
locale.setlocale(locale.LC_ALL, "C.UTF-8")

import zorvek_records  # noqa: E402  (registers DeviceInfo before the module is called)
import Zorvek  # noqa: E402
from capture import stdout_captured  # noqa: E402

# The answers go to a copy of standard output, which the calls' captures leave alone.
answers = os.fdopen(os.dup(1), "w")


def traced(call):
    with stdout_captured() as out:
        result = call()
    return result, out.text


def listed():
    import zorvekcam
    return [[camera.node, camera.path] for camera in zorvekcam.list_devices()]


def listed_at_once(threads, times):
    import threading
    start = threading.Barrier(threads)
    answers = []

    def lister():
        start.wait()
        answers.extend(json.dumps(listed()) for _ in range(times))
    running = [threading.Thread(target=lister) for _ in range(threads)]
    for thread in running:
        thread.start()
    for thread in running:
        thread.join()
    return sorted(set(answers))


for line in sys.stdin:
    command, *argument = line.split()
    if command == "list":
        answer = {"result": listed()}
    elif command == "threads":
        answer = {"result": listed_at_once(int(argument[0]), int(argument[1]))}
    elif command == "count":
        found, trace = traced(lambda: Zorvek.getDeviceCount(0))
        answer = {"result": found, "trace": trace}
    else:
        record = zorvek_records.DeviceInfo()
        found, trace = traced(lambda: Zorvek.getDeviceInfo(int(argument[0]), record))
        raw = record[0].raw
        fields = (raw[0:50], raw[50:55], raw[55:60], raw[60:610])
        answer = {"result": found, "trace": trace, "fields": [f.hex() for f in fields]}
    answers.write(json.dumps(answer) + "\n")
    answers.flush()
