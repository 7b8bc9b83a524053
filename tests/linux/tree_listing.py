"""`zorvekcam --json` of installed builds over one fake sysfs tree and its device files, each listing
checked against the tree's target cameras and against the others (a wheel for another architecture,
run under qemu-user, must list exactly what this machine's lists):

    python tests/linux/tree_listing.py [--nodes N] PYTHON [PYTHON...]     (as root)

Each PYTHON is the command that starts an interpreter with zorvek installed, shell-quoted when it
has words of its own ("qemu-aarch64-static -L ROOT VENV/bin/python"). The tree is
bench/sysfs_native.py's: N // 2 USB cameras of two nodes each (capture, then metadata), every other
one of the target model, with names, serial numbers and ports of their own; it is mounted over /sys
and /dev in a mount namespace of each run's own, so nothing of the machine's is seen or changed.
Its device files are plain files, which answer VIDIOC_QUERYCAP with ENOTTY: the source then counts a
node by its index attribute (the capture node, 0).
"""
import argparse
import json
import os
import shlex
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench"))
from sysfs_native import MOUNT_AND_RUN, TARGET, build_tree  # noqa: E402

INTERFACE_GUID = "{65E8773D-8F56-11D0-A3B9-00A0C9223196}"


def expected(nodes):
    """The target cameras of build_tree's tree, as `zorvekcam --json` gives them."""
    cameras = []
    for k in range(0, nodes // 2, 2):  # the even cameras are the target's
        number = 2 * k
        cameras.append({
            "name": "Target Camera", "vid": TARGET[0].upper(), "pid": TARGET[1].upper(),
            "path": f"\\\\?\\USB#VID_{TARGET[0]}&PID_{TARGET[1]}&MI_00#1-{k + 1}#{INTERFACE_GUID}\\VIDEO{number}".upper(),
            "node": f"/dev/video{number}", "index": number, "backend": 200, "serial": f"SN{k:04}", "port": f"1-{k + 1}",
        })
    return cameras


def listing(root, python, elsewhere):
    done = subprocess.run(["unshare", "--mount", "--propagation", "private", "sh", "-c", MOUNT_AND_RUN, "sh", root,
                           *shlex.split(python), "-m", "zorvekcam", "--json"],
                          cwd=elsewhere, capture_output=True, text=True, timeout=300)
    if done.returncode != 0 or done.stderr:
        sys.exit(f"tree_listing: FAILED: {python}: exit status {done.returncode}\n{done.stderr}{done.stdout}")
    return json.loads(done.stdout)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--nodes", type=int, default=12)
    parser.add_argument("python", nargs="+")
    args = parser.parse_args()

    want = expected(args.nodes)
    with tempfile.TemporaryDirectory() as work:
        root = os.path.join(work, "tree")
        build_tree(root, args.nodes)
        elsewhere = os.path.join(work, "elsewhere")
        os.mkdir(elsewhere)
        listings = {python: listing(root, python, elsewhere) for python in args.python}
    for python, cameras in listings.items():
        if cameras != want:
            sys.exit(f"tree_listing: FAILED: {python} listed\n{json.dumps(cameras, indent=1)}\n"
                     f"not the tree's target cameras\n{json.dumps(want, indent=1)}")
        print(f"tree_listing: {python}: the {len(want)} target cameras of {args.nodes // 2} (nodes "
              f"{', '.join(camera['node'] for camera in cameras)}; serials, ports, names, indexes and paths as expected)")
    print(f"tree_listing: {len(listings)} listings, identical")


if __name__ == "__main__":
    main()
