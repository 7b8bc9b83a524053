#!/usr/bin/env bash
# The whole test suite, on a fresh Debian 12 machine or a used one: installs what is missing, then
# runs every stage and stops at the first that fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --test

# CMake and Ninja come from the virtual environment (pyproject.toml's test group).
export PATH="$PWD/.venv/bin:$PATH"
python=$PWD/.venv/bin/python
pybind11_dir=$("$python" -m pybind11 --cmakedir)
jobs=$(nproc)

stage() { printf '\n==== %s\n' "$*"; }

configure() {  # configure <build dir> <cmake options...>
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DZORVEK_BUILD_TESTS=ON -DPython_EXECUTABLE="$python" \
    -Dpybind11_DIR="$pybind11_dir" "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

stage "Style: ruff's lint and format of the Python, clang-format of the C++ (scripts/format.sh mends)"
scripts/format.sh --check

stage "C++ tests"
configure build/tests -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir build/tests --output-on-failure -j "$jobs"

stage "Benchmarks build (scripts/bench.sh runs them)"
configure build/tests -DZORVEK_BUILD_BENCHMARKS=ON

stage "C++ tests under AddressSanitizer and UndefinedBehaviorSanitizer"
CXX=clang++ configure build/asan -DCMAKE_BUILD_TYPE=Debug -DZORVEK_SANITIZE=ON -DZORVEK_BUILD_MODULE=OFF
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build/asan --output-on-failure -j "$jobs"

stage "Python tests"
"$python" -m pytest -q tests

stage "Python tests of the module under AddressSanitizer"
scripts/test_module_asan.sh

stage "Windows build of the discovery tests, run under Wine"
scripts/test_wine.sh build/wine

stage "The Linux camera source over fake V4L2 devices (umockdev)"
scripts/test_sysfs.sh

stage "C++ tests under valgrind memcheck"
scripts/memcheck.sh build/tests

stage "Fuzzing, about a minute"
scripts/fuzz.sh 20

stage "pip wheel and pip install into a fresh virtual environment"
scripts/check_install.sh

stage "Release files: the sdist, wheels built from it alone (manylinux; win_amd64 by MSVC under Wine), installed afresh"
scripts/release.sh --no-setup --out build/dist

stage "zorvekcam on Linux CPython 3.11, 3.13, 3.14 and 3.15: the release's wheels, the package's tests, import times"
scripts/test_pythons.sh build/dist build/tests/scripted

stage "The release's Windows wheels in Windows CPython 3.11, 3.12 and 3.13 under Wine"
windows_wheel=$(compgen -G 'build/dist/zorvek-*-cp311-cp311-win_amd64.whl' || echo build/dist/none)
for version in 3.11 3.12 3.13; do
  scripts/test_windows.sh --python "$version" --wheel "$windows_wheel"
done

stage "aarch64: the release's aarch64 wheel and the C++ tests under qemu, beside the x86_64 wheel"
scripts/test_aarch64.sh build/dist
