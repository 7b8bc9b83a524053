"""The smoke test of an installed zorvek, run by the interpreter it is installed for:

    python tests/smoke.py [VERSION]

From an empty folder (so that nothing of a source tree is imported instead), `zorvekcam --json` and
`python -m zorvekcam --json` must list the same cameras (none on Linux without a video4linux device)
as a JSON array, exit status 0 with cameras and 1 without, nothing on standard error; the package
report VERSION, if given; Zorvek take the records module's record type, or, where the wheel holds
zorvekcam alone (cp311-abi3), `import Zorvek` be an ImportError that names CPython 3.11. Under
qemu-user (no binfmt_misc handler), ZORVEK_SMOKE_EMULATOR is the command that starts a program of
the interpreter's architecture (`qemu-aarch64-static -L ROOT`), which then runs the console script.
"""

import importlib.metadata
import json
import os
import shlex
import shutil
import sys
import sysconfig
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "support"))
import spawn  # noqa: E402


def check(condition: bool, *what: object) -> None:
    # Not assert: the smoke test must also fail under python -O.
    if not condition:
        sys.exit("smoke: FAILED: " + " ".join(map(repr, what)))


def main() -> None:
    scripts = sysconfig.get_path("scripts")
    command = shutil.which("zorvekcam", path=scripts)
    if command is None:
        sys.exit(f"smoke: FAILED: no console command zorvekcam in {scripts}")
    emulator = shlex.split(os.environ.get("ZORVEK_SMOKE_EMULATOR", ""))
    python = emulator + [sys.executable]
    console = python + [command] if emulator else [command]
    # The class registered for the record type by zorvek_records is the one Zorvek takes (an argument
    # it did not accept would raise TypeError). The trace goes to the captured output.
    argvs = {
        "zorvekcam --json": console + ["--json"],
        "python -m zorvekcam --json": python + ["-m", "zorvekcam", "--json"],
        "about": python + ["-c", "import zorvekcam; print(zorvekcam.__version__, zorvekcam.__file__)"],
        "shared": python
        + ["-c", "import Zorvek, zorvek_records\nZorvek.getDeviceInfo(0, zorvek_records.DeviceInfo(1))"],
    }
    with tempfile.TemporaryDirectory() as elsewhere:
        results = {
            name: spawn.run(argv, cwd=elsewhere, capture_output=True, text=True, timeout=120)
            for name, argv in argvs.items()
        }
    about, shared = results.pop("about"), results.pop("shared")

    for name, out in results.items():
        check(out.returncode in (0, 1) and out.stderr == "", name, out.returncode, out.stderr)
        try:
            listing = json.loads(out.stdout)
        except ValueError:
            listing = None
        check(isinstance(listing, list) and out.returncode == (0 if listing else 1), name, out.returncode, out.stdout)
    first, second = results.values()
    check((first.returncode, first.stdout) == (second.returncode, second.stdout), first, second)
    v4l = "/sys/class/video4linux"
    if sys.platform.startswith("linux") and not (os.path.isdir(v4l) and os.listdir(v4l)):
        check(json.loads(first.stdout) == [], "cameras listed without a video4linux device:", first.stdout)

    check(about.returncode == 0, about.stderr)
    version, location = about.stdout.strip().split(maxsplit=1)
    installed = importlib.metadata.version("zorvek")
    check(version == installed and sys.argv[1:] in ([], [version]), version, installed, sys.argv[1:])
    site = os.path.realpath(sysconfig.get_path("platlib"))
    check(os.path.realpath(location).startswith(site + os.sep), "imported from", location, "not", site)
    # Whether the installed wheel holds zorvekcam alone, with no extension module Zorvek.
    package_only = not any(
        f.name.startswith("Zorvek.") and f.suffix in (".so", ".pyd") for f in importlib.metadata.files("zorvek") or []
    )
    if package_only:
        check(
            shared.returncode == 1
            and "ImportError: Zorvek and zorvek_records are built for CPython 3.11 only" in shared.stderr,
            "import Zorvek where zorvekcam is installed alone:",
            shared.returncode,
            shared.stderr,
        )
    else:
        check(shared.returncode == 0, shared.stderr)

    print(
        f"smoke: zorvek {version}{' (zorvekcam alone)' if package_only else ''} on Python "
        f"{sys.version.split()[0]}: `zorvekcam --json` printed {first.stdout.strip()!r} with exit status "
        f"{first.returncode}, as `python -m zorvekcam --json` did"
    )


if __name__ == "__main__":
    main()
