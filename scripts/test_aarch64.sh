#!/usr/bin/env bash
# The aarch64 build, run on this x86_64 machine under qemu-user (qemu-aarch64-static) with Debian 12's
# arm64 CPython 3.11 in a root of its own (scripts/python_root.sh: fetched once, cached):
#   scripts/test_aarch64.sh [DIST]       DIST holds the release wheels (build/dist: scripts/release.sh)
# 1. each aarch64 wheel (cp311-cp311, cp311-abi3) installed into a virtual environment of that
#    interpreter (by pip, from Debian's pip wheel, run by it), and the package's smoke test there
#    (tests/smoke.py: `zorvekcam --json`);
# 2. the cp311-cp311 one's listing over a fake sysfs tree and device files in a mount namespace of the test's own,
#    against the tree's target cameras and against the x86_64 wheel's listing of the same tree
#    (tests/linux/tree_listing.py; as root);
# 3. the Linux source's umockdev tests (tests/linux), with the aarch64 build in the tests' children;
# 4. the C++ tests, cross-built for aarch64 with zig (cmake/zig.cmake) and run by CTest through qemu.
# Where qemu-user-static cannot be installed, says so and is skipped.
set -euo pipefail
cd "$(dirname "$0")/.."
project=$PWD
dist=${1:-build/dist}
python=$project/.venv/bin/python  # with CMake, Ninja and ziglang (the test group)
export PATH=$project/.venv/bin:$PATH

if ! command -v qemu-aarch64-static >/dev/null; then
  echo "SKIPPED: qemu-user-static cannot be installed here"
  exit 0
fi
version=$(sed -n 's/^project(zorvek VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
wheel() {  # wheel ABI ARCH: the release's cp311-ABI wheel for ARCH
  local file
  file=$(echo "$dist"/zorvek-"$version"-cp311-"$1"-*manylinux_*_"$2".whl)
  [[ -f $file ]] || { echo "test_aarch64: no cp311-$1 $2 wheel in $dist: run scripts/release.sh --out $dist first" >&2; exit 1; }
  echo "$file"
}
aarch64_wheel=$(wheel cp311 aarch64)
aarch64_package_wheel=$(wheel abi3 aarch64)
x86_64_wheel=$(wheel cp311 x86_64)
root=$(scripts/python_root.sh arm64)
work=$project/build/aarch64
rm -rf "$work"
mkdir -p "$work"
qemu=(qemu-aarch64-static -L "$root")
step() { printf 'test_aarch64: %s\n' "$*"; }

# Each aarch64 wheel in a virtual environment of its own: venv (cp311-cp311, which the tests below
# use) and package-venv (cp311-abi3, zorvekcam alone). No ensurepip: it would start pip as a second
# aarch64 process, which only qemu can run.
pip_wheel=$(echo "$root"/usr/share/python-wheels/pip-*.whl)
for venv_wheel in "venv $aarch64_wheel" "package-venv $aarch64_package_wheel"; do
  read -r venv wheel_file <<<"$venv_wheel"
  "${qemu[@]}" "$root/usr/bin/python3.11" -m venv --without-pip "$work/$venv"
  "${qemu[@]}" "$work/$venv/bin/python" "$pip_wheel/pip" install -q --no-deps --no-index --disable-pip-version-check \
    "$wheel_file"
  machine=$("${qemu[@]}" "$work/$venv/bin/python" -c 'import platform; print(platform.machine())')
  [[ $machine == aarch64 ]] || { echo "test_aarch64: the interpreter under qemu says it runs on $machine" >&2; exit 1; }
  step "$(basename "$wheel_file") installed into Debian's arm64 CPython 3.11 under qemu"
  (cd "$work" && ZORVEK_SMOKE_EMULATOR="${qemu[*]}" "${qemu[@]}" "$work/$venv/bin/python" "$project/tests/smoke.py" \
    "$version") | sed 's/^/test_aarch64: /'
done

"$python" -m venv "$work/x86_64-venv"
"$work/x86_64-venv/bin/python" -m pip install -q --no-deps "$x86_64_wheel"
"$python" tests/linux/tree_listing.py "$work/x86_64-venv/bin/python" "${qemu[*]} $work/venv/bin/python" |
  sed 's/^/test_aarch64: /'

# The Linux source's tests over umockdev's fake devices (scripts/test_sysfs.sh's), with the aarch64
# wheel's interpreter as the one the tests' children run: umockdev's testbed lives in this machine's
# Python, and its arm64 preload library, which only needs the C library, in each child under qemu,
# beside an arm64 libudev for the watch. Their case "debian" loads the shipped modules into this
# machine's own Python, which cannot load aarch64 ones, and is left out.
if command -v umockdev-wrapper >/dev/null &&
  /usr/bin/python3 -c 'import gi; gi.require_version("UMockdev", "1.0")' 2>/dev/null; then
  libraries=$(scripts/debian_root.sh bookworm arm64 umockdev-arm64 umockdev libudev1)/usr/lib/aarch64-linux-gnu
  printf '#!/bin/sh\nexec %s -E LD_PRELOAD=%s -E LD_LIBRARY_PATH=%s %s "$@"\n' "${qemu[*]}" \
    "$libraries/libumockdev-preload.so.0" "$libraries" "$work/venv/bin/python" >"$work/python"
  chmod +x "$work/python"
  ZORVEK_SHIPPED_PYTHON=$work/python umockdev-wrapper /usr/bin/python3 -m pytest -q -p no:cacheprovider -k "not debian" \
    tests/linux
else
  echo "SKIPPED: the umockdev tests under qemu: umockdev (umockdev, gir1.2-umockdev-1.0, python3-gi, python3-pytest) cannot be installed here"
fi

# The tests' programs are linked against glibc 2.17's stubs; the root's glibc (Debian 12's) runs them.
zig=$("$python" -c 'import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), "zig"))')
cmake -S . -B build/aarch64-tests -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/zig.cmake -DZORVEK_ZIG="$zig" \
  -DZORVEK_ZIG_TARGET=aarch64-linux-gnu.2.17 -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORVEK_BUILD_TESTS=ON \
  -DZORVEK_BUILD_MODULE=OFF "-DCMAKE_CROSSCOMPILING_EMULATOR=qemu-aarch64-static;-L;$root" \
  >"$work/configure.log" 2>&1 || { cat "$work/configure.log" >&2; exit 1; }
cmake --build build/aarch64-tests -j 2
ctest --test-dir build/aarch64-tests --output-on-failure -j 2
