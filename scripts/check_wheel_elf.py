"""Reads each extension module of a Linux wheel as the dynamic loader will, beside auditwheel's verdict:

    python scripts/check_wheel_elf.py WHEEL GLIBC        e.g. ... zorvek-...-manylinux_2_17_aarch64.whl 2.17

Each module must be built for, and named for, the wheel's architecture, need no symbol version but glibc's and none
of those newer than GLIBC (the loader refuses a module whose version needs the system's C library
does not define), need no library but the C library's own (libudev is loaded with dlopen), and
export its PyInit_ function and nothing else. Prints one line per module; exits 1 at any fault.
Needs pyelftools (auditwheel's own dependency, in the release tools).
"""

import io
import re
import sys
import zipfile

from elftools.elf.dynamic import DynamicSection
from elftools.elf.elffile import ELFFile
from elftools.elf.gnuversions import GNUVerNeedSection

MACHINES = {"x86_64": "EM_X86_64", "aarch64": "EM_AARCH64"}
# The C library's own libraries, which every manylinux system has.
C_LIBRARY = re.compile(r"(libc|libm|libdl|libpthread|librt)\.so\.\d+|ld-linux-(x86-64|aarch64)\.so\.\d+")


def version(text):
    return tuple(int(part) for part in text.split("."))


def faults(elf, module, glibc):
    found = []
    needs = set()
    for section in elf.iter_sections():
        if isinstance(section, GNUVerNeedSection):
            for _, auxiliaries in section.iter_versions():
                needs.update(aux.name for aux in auxiliaries)
    glibc_needs = sorted(version(name[6:]) for name in needs if re.fullmatch(r"GLIBC_\d+(\.\d+)*", name))
    found += [
        f"needs the symbol version {name}" for name in sorted(needs) if not re.fullmatch(r"GLIBC_\d+(\.\d+)*", name)
    ]
    if glibc_needs and glibc_needs[-1] > version(glibc):
        found.append(f"needs GLIBC_{'.'.join(map(str, glibc_needs[-1]))}, newer than {glibc}")

    libraries = [
        tag.needed
        for section in elf.iter_sections()
        if isinstance(section, DynamicSection)
        for tag in section.iter_tags()
        if tag.entry.d_tag == "DT_NEEDED"
    ]
    found += [f"is linked with {library}" for library in libraries if not C_LIBRARY.fullmatch(library)]

    dynsym = elf.get_section_by_name(".dynsym")
    exported = sorted(
        symbol.name
        for symbol in dynsym.iter_symbols()
        if symbol.name and symbol["st_shndx"] != "SHN_UNDEF" and symbol["st_info"]["bind"] in ("STB_GLOBAL", "STB_WEAK")
    )
    if exported != [f"PyInit_{module}"]:
        found.append(f"exports {exported}, not PyInit_{module} alone")
    newest = "GLIBC_" + ".".join(map(str, glibc_needs[-1])) if glibc_needs else "no glibc version"
    return found, newest, libraries


def main():
    wheel, glibc = sys.argv[1:3]
    arch = next((name for name in MACHINES if wheel.endswith(f"_{name}.whl")), None)
    if arch is None:
        sys.exit(f"check_wheel_elf: {wheel}: no Linux architecture in its name")
    failed = False
    with zipfile.ZipFile(wheel) as archive:
        modules = [name for name in archive.namelist() if re.search(r"\.so(\.|$)", name)]
        if not modules:
            sys.exit(f"check_wheel_elf: {wheel} holds no extension module")
        for name in modules:
            elf = ELFFile(io.BytesIO(archive.read(name)))
            module, _, suffix = name.rsplit("/", 1)[-1].partition(".")
            if elf["e_machine"] != MACHINES[arch]:
                found, newest, libraries = [f"is built for {elf['e_machine']}, not {arch}"], "?", []
            else:
                found, newest, libraries = faults(elf, module, glibc)
            # The interpreter imports an extension by its suffix: CPython 3.11's own for ARCH, or the
            # stable ABI's.
            if suffix not in (f"cpython-311-{arch}-linux-gnu.so", "abi3.so"):
                found.append(f"is named for another interpreter: .{suffix}")
            for fault in found:
                print(f"check_wheel_elf: {name} {fault}", file=sys.stderr)
            failed |= bool(found)
            if not found:
                print(
                    f"check_wheel_elf: {name} ({arch}): {newest} at most (<= {glibc}), needs "
                    f"{' '.join(libraries)} only, exports PyInit_{module} only"
                )
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
