"""`zorvekcam --json` of installed builds over one fake sysfs tree and its device files, each listing
checked against the tree's target cameras, so that a wheel for another architecture, run under
qemu-user, lists exactly what this machine's does:

    python tests/linux/tree_listing.py PYTHON [PYTHON...]     (as root)

Each PYTHON starts an interpreter with zorvek installed, shell-quoted if it has words of its own
("qemu-aarch64-static -L ROOT VENV/bin/python"). The tree (bench/sysfs_native.py's) is mounted over
/sys and /dev in a mount namespace of each run's own. Its device files are plain files, which answer
VIDIOC_QUERYCAP with ENOTTY: the source then counts a node by its index attribute (capture: 0).
"""

import json
import os
import shlex
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench"))
from sysfs_native import MOUNT_AND_RUN, TARGET, build_tree  # noqa: E402

INTERFACE_GUID = "{65E8773D-8F56-11D0-A3B9-00A0C9223196}"
NODES = 12


# The target cameras of build_tree's tree, the even ones, as `zorvekcam --json` gives them.
EXPECTED = [
    {
        "name": "Target Camera",
        "vid": TARGET[0].upper(),
        "pid": TARGET[1].upper(),
        "path": f"\\\\?\\USB#VID_{TARGET[0]}&PID_{TARGET[1]}&MI_00#1-{k + 1}#{INTERFACE_GUID}\\VIDEO{2 * k}".upper(),
        "node": f"/dev/video{2 * k}",
        "index": 2 * k,
        "backend": 200,
        "serial": f"SN{k:04}",
        "port": f"1-{k + 1}",
        "moniker": None,
    }
    for k in range(0, NODES // 2, 2)
]


def listing(root, python, elsewhere):
    done = subprocess.run(
        [
            "unshare",
            "--mount",
            "--propagation",
            "private",
            "sh",
            "-c",
            MOUNT_AND_RUN,
            "sh",
            root,
            *shlex.split(python),
            "-m",
            "zorvekcam",
            "--json",
        ],
        cwd=elsewhere,
        capture_output=True,
        text=True,
        timeout=300,
    )
    if done.returncode != 0 or done.stderr:
        sys.exit(f"tree_listing: FAILED: {python}: exit status {done.returncode}\n{done.stderr}{done.stdout}")
    return json.loads(done.stdout)


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    with tempfile.TemporaryDirectory() as work:
        root = os.path.join(work, "tree")
        build_tree(root, NODES)
        elsewhere = os.path.join(work, "elsewhere")
        os.mkdir(elsewhere)
        listings = {python: listing(root, python, elsewhere) for python in sys.argv[1:]}
    for python, cameras in listings.items():
        if cameras != EXPECTED:
            sys.exit(
                f"tree_listing: FAILED: {python} listed\n{json.dumps(cameras, indent=1)}\n"
                f"not the tree's target cameras\n{json.dumps(EXPECTED, indent=1)}"
            )
        print(
            f"tree_listing: {python}: the {len(EXPECTED)} target cameras of {NODES // 2} (nodes "
            f"{', '.join(camera['node'] for camera in cameras)}; serials, ports, names, indexes and paths as expected)"
        )
    print(f"tree_listing: {len(listings)} listings, identical")


if __name__ == "__main__":
    main()
