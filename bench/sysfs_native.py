"""The scan against the floor over fake video4linux nodes on the real file system, without umockdev.

    python bench/sysfs_native.py --bench-sysfs build/bench/bench/bench_sysfs --out native.json

Under umockdev every open of a device file and every VIDIOC_QUERYCAP is a round trip to a handler in
another process, about a millisecond, which leaves nothing of the scan's own cost to see. Here the
same layout of USB cameras lies in a temporary directory, mounted over /sys and /dev in a mount
namespace of the benchmark's own (unshare, as root), so every call is an ordinary system call. Its
device files are plain files that answer VIDIOC_QUERYCAP with ENOTTY, so the scan and the floor both
take the source's way for a node that does not answer: its index attribute (0: the capture node).
Where no mount namespace can be made, says so and writes no result.
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile

# The cameras of bench/sysfs_compare.py.
TARGET = ("2560", "c0d6")
OTHER = ("046d", "0825")
USB_ROOT = "devices/pci0000:00/0000:00:14.0/usb1"

# In the new namespace: the real /dev/null inside the fake /dev, then the fake trees over the real.
MOUNT_AND_RUN = """set -e
touch "$1/dev/null"
mount --bind /dev/null "$1/dev/null"
mount --rbind "$1/dev" /dev
mount --bind "$1/sys" /sys
shift
exec "$@"
"""


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as file:
        file.write(text)


def build_tree(root, nodes):
    """nodes // 2 cameras as the kernel shows them, each with a capture node (index 0) and a metadata
    node (index 1): even ones the target model. Camera k is "Target Camera" or "Other Camera", in the
    port 1-(k+1), with the serial number SN000k."""
    os.makedirs(f"{root}/sys/class/video4linux")
    os.makedirs(f"{root}/dev")
    for k in range(nodes // 2):
        vendor, product = TARGET if k % 2 == 0 else OTHER
        device = f"{root}/sys/{USB_ROOT}/1-{k + 1}"
        write(f"{device}/idVendor", vendor + "\n")
        write(f"{device}/idProduct", product + "\n")
        name = "Target Camera" if (vendor, product) == TARGET else "Other Camera"
        write(f"{device}/product", name + "\n")
        write(f"{device}/serial", f"SN{k:04}\n")
        for index in (0, 1):
            number = 2 * k + index
            node = f"{device}/1-{k + 1}:1.0/video4linux/video{number}"
            write(f"{node}/name", name + "\n")
            write(f"{node}/index", f"{index}\n")
            write(f"{node}/dev", f"81:{number}\n")
            os.symlink(f"../../../1-{k + 1}:1.0", f"{node}/device")
            os.symlink(
                f"../../{USB_ROOT}/1-{k + 1}/1-{k + 1}:1.0/video4linux/video{number}",
                f"{root}/sys/class/video4linux/video{number}",
            )
            write(f"{root}/dev/video{number}", "")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bench-sysfs", required=True, help="the native benchmark program")
    parser.add_argument("--out", required=True)
    parser.add_argument("--nodes", type=int, default=64)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()

    result = {"nodes": args.nodes, "rounds": []}
    with tempfile.TemporaryDirectory() as work:
        root = os.path.join(work, "tree")
        build_tree(root, args.nodes)
        out = os.path.join(work, "out.json")
        program = os.path.abspath(args.bench_sysfs)
        for _ in range(args.rounds):
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
                    program,
                    f"--benchmark_out={out}",
                    "--benchmark_out_format=json",
                    "--benchmark_filter=^(scanOverFloor|floor_device_queries|floor_sysfs_reads)/",
                ],
                stdout=subprocess.DEVNULL,
                stderr=subprocess.PIPE,
                text=True,
            )
            if done.returncode != 0:
                print(
                    f"sysfs_native: no mount namespace here, so no native comparison:\n{done.stderr}", file=sys.stderr
                )
                return
            with open(out) as file:
                result["rounds"].append({"native": json.load(file)})
    with open(args.out, "w") as file:
        json.dump(result, file, indent=1)


if __name__ == "__main__":
    main()
