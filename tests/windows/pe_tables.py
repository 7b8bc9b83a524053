"""The Windows wheel as built, read from outside (no Windows needed):

    python tests/windows/pe_tables.py WHEEL [PYTHON_VERSION]

Checks that it holds the three modules, the package, the stubs and the console command; that each
.pyd exports its PyInit_ function and nothing else; and that each uses the process's C runtime as a
DLL (/MD: VCRUNTIME140.dll and the Universal CRT's api-ms-win-crt-*, which a statically linked one
would not import) and the interpreter's pythonXY.dll, and needs no DLL beyond Windows' own that the
wheel does not carry (msvcp140.dll, which delvewheel copies in under a name of its own).

The tables are read by LLVM's llvm-readobj (installed with clang): mingw-w64's objdump stops at
the first import whose name delvewheel moved into a section of its own.
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
CONTENTS = ["zorvekcam/__init__.py", "zorvekcam/__main__.py", "zorvekcam/py.typed", "zorvekcam/_core.pyi",
            "Zorvek-stubs/__init__.pyi", "zorvek_records-stubs/__init__.pyi"]


def readobj() -> str:
    for name in ("llvm-readobj", "llvm-readobj-14"):
        if shutil.which(name):
            return name
    sys.exit("pe_tables: FAILED: no llvm-readobj (clang's LLVM tools) on PATH")


def names(tool: str, option: str, dll: Path) -> list[str]:
    text = subprocess.run([tool, option, str(dll)], capture_output=True, text=True, check=True).stdout
    return re.findall(r"^\s*Name: (\S+)$", text, re.M)


def problems(wheel: Path, version: str) -> list[str]:
    tag = "cp" + version.replace(".", "")
    found: list[str] = []
    with zipfile.ZipFile(wheel) as archive, tempfile.TemporaryDirectory() as folder:
        members = archive.namelist()
        found += [f"the wheel lacks {name}" for name in CONTENTS if name not in members]
        found += [f"the wheel lacks the module {name}" for name in MODULES
                  if not any(re.fullmatch(rf"{name}(\.{tag}-win_amd64)?\.pyd", m) for m in members)]
        entry_points = next((m for m in members if m.endswith(".dist-info/entry_points.txt")), None)
        if entry_points is None or "zorvekcam = zorvekcam.__main__:main" not in archive.read(entry_points).decode():
            found.append("the wheel declares no console command zorvekcam")
        carried = {Path(m).name.lower() for m in members if m.lower().endswith(".dll")}
        archive.extractall(folder)
        tool = readobj()
        modules = sorted(Path(folder).rglob("*.pyd"))
        if len(modules) != 3:
            found.append(f"the wheel holds {len(modules)} .pyd files, not 3")
        for module in modules:
            where = module.relative_to(folder).as_posix()
            exports = names(tool, "--coff-exports", module)
            if exports != ["PyInit_" + module.name.split(".")[0]]:
                found.append(f"{where} exports {exports}")
            imports = {name.lower() for name in names(tool, "--coff-imports", module)}
            # Zorvek is built for this interpreter only; a limited-API module imports python3.dll.
            python_dll = f"python{tag[2:]}.dll"
            if python_dll not in imports and (module.name.startswith("Zorvek.") or "python3.dll" not in imports):
                found.append(f"{where} does not import {python_dll}")
            for needed in ("vcruntime140.dll", "api-ms-win-crt-runtime-l1-1-0.dll"):
                if needed not in imports:
                    found.append(f"{where} does not import {needed} (the process's runtime, /MD)")
            stray = sorted(name for name in imports - SYSTEM - carried - {python_dll, "python3.dll"}
                           if not re.fullmatch(r"vcruntime140(_1)?\.dll|api-ms-win-crt-[a-z]+-l1-1-0\.dll", name))
            if stray:
                found.append(f"{where} needs {stray}, which neither Windows nor the wheel has")
    return found


def main() -> None:
    wheel = Path(sys.argv[1])
    found = problems(wheel, sys.argv[2] if len(sys.argv) > 2 else "3.11")
    if found:
        sys.exit("pe_tables: FAILED: " + "\npe_tables: FAILED: ".join(found))
    print(f"pe_tables: {wheel.name}: the three modules export their PyInit_ function only, use "
          "python's DLL and the process's C runtime, and need no DLL the wheel lacks")


if __name__ == "__main__":
    main()
