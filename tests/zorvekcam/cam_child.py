"""Runs in a child process: scripts the devices given as JSON in argv[1], then runs either
`python -m zorvekcam` with the remaining arguments, or `-c CODE`."""
import json
import runpy
import sys

from cam_devices import Device, script

script([Device(**fields) for fields in json.loads(sys.argv[1])])
if sys.argv[2:3] == ["-c"]:
    exec(sys.argv[3])
else:
    sys.argv = ["zorvekcam", *sys.argv[2:]]
    runpy.run_module("zorvekcam", run_name="__main__", alter_sys=True)
