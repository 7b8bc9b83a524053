"""The Windows wheel as built, read from outside (no Windows needed):

    python tests/windows/pe_tables.py WHEEL [PYTHON_VERSION]

Checks that it holds the three modules, the package, the stubs and the console command (the cp311-abi3
wheel: the core alone, beside the Python modules Zorvek and zorvek_records that say why they are not
there); that each .pyd exports its PyInit_ function only, imports the process's C runtime as a DLL (/MD:
VCRUNTIME140.dll and the Universal CRT's api-ms-win-crt-*) and the interpreter's (pythonXY.dll; python3.dll
alone for the limited-API core, which loads in every later CPython), and needs no DLL beyond Windows' own
that the wheel lacks (delvewheel copies msvcp140.dll in, renamed). LLVM's llvm-readobj (clang's) reads
the tables: mingw-w64's objdump stops at the first import whose name delvewheel moved into a section.
"""

import re
import shutil
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

# What every 64-bit Windows has, of what the modules may use.
SYSTEM = {"kernel32.dll", "ole32.dll", "oleaut32.dll", "setupapi.dll", "cfgmgr32.dll", "advapi32.dll"}
# The modules by name: each with the interpreter's suffix, or, built for the limited API, .pyd alone.
MODULES = ["Zorvek", "zorvek_records", "zorvekcam/_core"]
PACKAGE = ["zorvekcam/__init__.py", "zorvekcam/__main__.py", "zorvekcam/py.typed", "zorvekcam/_core.pyi"]
CONTENTS = PACKAGE + ["Zorvek-stubs/__init__.pyi", "zorvek_records-stubs/__init__.pyi"]
ABI3_CONTENTS = PACKAGE + ["Zorvek.py", "zorvek_records.py"]


def readobj() -> str:
    tool = shutil.which("llvm-readobj") or shutil.which("llvm-readobj-14")
    return tool or sys.exit("pe_tables: FAILED: no llvm-readobj (clang's LLVM tools) on PATH")


def names(tool: str, option: str, dll: Path) -> list[str]:
    text = subprocess.run([tool, option, str(dll)], capture_output=True, text=True, check=True).stdout
    return re.findall(r"^\s*Name: (\S+)$", text, re.M)


def problems(wheel: Path, version: str) -> list[str]:
    tag = "cp" + version.replace(".", "")
    abi3 = "-abi3-" in wheel.name
    modules_wanted = ["zorvekcam/_core"] if abi3 else MODULES
    found: list[str] = []
    with zipfile.ZipFile(wheel) as archive, tempfile.TemporaryDirectory() as folder:
        members = archive.namelist()
        found += [f"the wheel lacks {name}" for name in (ABI3_CONTENTS if abi3 else CONTENTS) if name not in members]
        found += [
            f"the wheel lacks the module {name}"
            for name in modules_wanted
            if not any(re.fullmatch(rf"{name}(\.{tag}-win_amd64)?\.pyd", m) for m in members)
        ]
        entry_points = next((m for m in members if m.endswith(".dist-info/entry_points.txt")), None)
        if entry_points is None or "zorvekcam = zorvekcam.__main__:main" not in archive.read(entry_points).decode():
            found.append("the wheel declares no console command zorvekcam")
        carried = {Path(m).name.lower() for m in members if m.lower().endswith(".dll")}
        archive.extractall(folder)
        tool = readobj()
        modules = sorted(Path(folder).rglob("*.pyd"))
        if len(modules) != len(modules_wanted):
            found.append(f"the wheel holds {len(modules)} .pyd files, not {len(modules_wanted)}")
        for module in modules:
            where = module.relative_to(folder).as_posix()
            exports = names(tool, "--coff-exports", module)
            if exports != ["PyInit_" + module.name.split(".")[0]]:
                found.append(f"{where} exports {exports}")
            imports = {name.lower() for name in names(tool, "--coff-imports", module)}
            # Zorvek and zorvek_records are built for this interpreter only; the core for the limited
            # API, where any pythonXY.dll would tie it to one version.
            python_dll = f"python{tag[2:]}.dll"
            wanted, unwanted = (
                ("python3.dll", python_dll) if where.startswith("zorvekcam/") else (python_dll, "python3.dll")
            )
            if wanted not in imports or unwanted in imports:
                found.append(
                    f"{where} imports {sorted(n for n in imports if n.startswith('python'))}, not {wanted} alone"
                )
            found += [
                f"{where} does not import {needed} (the process's runtime, /MD)"
                for needed in ("vcruntime140.dll", "api-ms-win-crt-runtime-l1-1-0.dll")
                if needed not in imports
            ]
            stray = sorted(
                name
                for name in imports - SYSTEM - carried - {python_dll, "python3.dll"}
                if not re.fullmatch(r"vcruntime140(_1)?\.dll|api-ms-win-crt-[a-z]+-l1-1-0\.dll", name)
            )
            if stray:
                found.append(f"{where} needs {stray}, which neither Windows nor the wheel has")
    return found


def main() -> None:
    wheel = Path(sys.argv[1])
    found = problems(wheel, sys.argv[2] if len(sys.argv) > 2 else "3.11")
    if found:
        sys.exit("pe_tables: FAILED: " + "\npe_tables: FAILED: ".join(found))
    what = "its one module, the core," if "-abi3-" in wheel.name else "each of its three modules"
    print(
        f"pe_tables: {wheel.name}: {what} exports its PyInit_ function only, imports python's DLL (python3.dll "
        "alone for the core) and the process's C runtime, and needs no DLL the wheel lacks"
    )


if __name__ == "__main__":
    main()
