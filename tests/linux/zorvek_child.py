"""Calls the shipped module and package for the umockdev tests: a Python expression a line on stdin,
for each a JSON line on stdout, [its value, what it wrote on standard output].
Beside Zorvek: info(index), getDeviceInfo's result and the record's four fields in hex; listed(),
the [node, path] of every camera zorvekcam.list_devices() lists; listed_at_once(T, K), the distinct
answers of T threads that list K times each, all at once.
Arguments: folders to put first on sys.path (where the modules are, for another interpreter than the
one they were installed into). The environment is inherited untouched: the testbed lives in it.
"""
import concurrent.futures
import json
import locale
import os
import sys
import threading
from pathlib import Path

sys.path[:0] = [*sys.argv[1:], str(Path(__file__).resolve().parents[1] / "support")]
locale.setlocale(locale.LC_ALL, "C.UTF-8")

import zorvek_records  # noqa: E402  (registers DeviceInfo before the module is called)
import Zorvek  # noqa: E402
from capture import stdout_captured  # noqa: E402

# The answers go to a copy of standard output, which the calls' captures leave alone.
answers = os.fdopen(os.dup(1), "w")


def info(index):
    record = zorvek_records.DeviceInfo()
    found = Zorvek.getDeviceInfo(index, record)
    raw = record[0].raw
    return found, [raw[start:end].hex() for start, end in ((0, 50), (50, 55), (55, 60), (60, 610))]


def listed():
    import zorvekcam  # only where the listing is tested: Zorvek's calls are tested without it
    return [[camera.node, camera.path] for camera in zorvekcam.list_devices()]


def listed_at_once(threads, times):
    start = threading.Barrier(threads)

    def lister(_):
        start.wait()
        return [json.dumps(listed()) for _ in range(times)]
    with concurrent.futures.ThreadPoolExecutor(threads) as pool:
        listings = {listing for answers in pool.map(lister, range(threads)) for listing in answers}
    return [json.loads(listing) for listing in sorted(listings)]


for line in sys.stdin:
    with stdout_captured() as out:
        result = eval(line)
    answers.write(json.dumps([result, out.text]) + "\n")
    answers.flush()
