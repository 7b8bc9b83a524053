"""Runs in a process of its own for test_stress.py: loads the build of the module over scripted
devices, scripts the devices through the module's C entry points and calls the module many times.
Standard output is left to the module's trace; the findings go to a JSON file.

    python stress_child.py <plan.json> <findings.json>

The plan: {"module_dir": ..., "scripts": [script, ...], "threads": t, "calls": c, "warmup": w}.
A script: {"reset": [create_result, category_result, fail_from_walk],
           "devices": [[path, name, bind_result, throw_on_read], ...]} (None: unreadable).
Each thread makes `calls` calls per script, the scripts in turn, all threads starting together.
"""
import collections
import ctypes
import json
import os
import sys
import threading

ALWAYS = 2**31 - 1


def load(module_dir):
    sys.path.insert(0, module_dir)
    import Zorvek

    lib = ctypes.CDLL(Zorvek.__file__)
    lib.standin_script_add_device.argtypes = [ctypes.c_char_p, ctypes.c_char_p] + [ctypes.c_int] * 4
    lib.standin_live_references.restype = ctypes.c_long
    lib.standin_live_bstrs.restype = ctypes.c_long
    return Zorvek, lib


def use(lib, script):
    lib.standin_script_reset(*script["reset"])
    for path, name, bind_result, throw_on_read in script["devices"]:
        encode = lambda text: None if text is None else text.encode()
        lib.standin_script_add_device(encode(path), encode(name), bind_result, throw_on_read, 0, ALWAYS)


def resident_kib():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


def main(plan_file, findings_file):
    with open(plan_file) as f:
        plan = json.load(f)
    zorvek, lib = load(plan["module_dir"])
    threads, calls = plan["threads"], plan["calls"]

    def run_scripts(rounds):
        per_script = []
        for script in plan["scripts"]:
            use(lib, script)
            answers = [collections.Counter() for _ in range(threads)]
            start = threading.Barrier(threads)

            def caller(answer):
                start.wait()
                for _ in range(rounds):
                    answer[zorvek.getDeviceCount(0)] += 1

            workers = [threading.Thread(target=caller, args=(answers[i],)) for i in range(threads)]
            for worker in workers:
                worker.start()
            for worker in workers:
                worker.join()
            per_script.append({
                "answers": [{repr(k): v for k, v in a.items()} for a in answers],
                "walks": lib.standin_script_walks(),
                "live_references": lib.standin_live_references(),
                "live_bstrs": lib.standin_live_bstrs(),
            })
        return per_script

    # Switch threads as often as the interpreter can: calls from different threads interleave
    # as finely as the interpreter's lock allows.
    sys.setswitchinterval(1e-6)
    run_scripts(plan.get("warmup", 0))
    before = resident_kib()
    per_script = run_scripts(calls)
    after = resident_kib()
    sys.stdout.flush()
    with open(findings_file, "w") as f:
        json.dump({"scripts": per_script, "rss_before_kib": before, "rss_growth_kib": after - before}, f)


if __name__ == "__main__":
    main(*sys.argv[1:])
