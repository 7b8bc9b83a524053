#!/usr/bin/env bash
# What a newcomer does: builds the wheel with `pip wheel .`, installs the project with `pip install .`
# into a fresh virtual environment that already holds a pybind11 of another series (as many do),
# runs the package's smoke test there (tests/smoke.py: `zorvekcam --json`), and type-checks a small
# user script against the installed type stubs with `mypy --strict`. Also checks that each installed
# extension exports its PyInit_ function and nothing else, and that a plain CMake build that finds
# only that other pybind11 stops at configure time.
set -euo pipefail
cd "$(dirname "$0")/.."
project=$PWD
python=${ZORVEK_PYTHON:-$project/.venv/bin/python}  # a CPython 3.11, with mypy (the test group)
work=$project/build/check_install
rm -rf "$work"
mkdir -p "$work/wheels"

"$python" -m pip wheel -q --no-deps -w "$work/wheels" .
version=$(sed -n 's/^project(zorvek VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
wheel=$(ls "$work/wheels")
expected="zorvek-$version-cp311-cp311-linux_$(uname -m).whl"
[[ "$wheel" == "$expected" ]] || { echo "check_install: built $wheel, expected $expected" >&2; exit 1; }
echo "check_install: pip wheel . gave $wheel"

"$python" -m venv "$work/venv"
fresh=$work/venv/bin/python
"$fresh" -m pip install -q 'pybind11==3.1.0'
"$fresh" -m pip install -q .
echo "check_install: pip install . beside pybind11 3.1.0 succeeded"

site=$("$fresh" -c 'import sysconfig; print(sysconfig.get_paths()["platlib"])')
for extension in "$site"/*.so "$site"/zorvekcam/*.so; do
  [[ -e $extension ]] || continue
  exported=$(nm -D --defined-only "$extension" | awk '{ print $3 }')
  [[ $exported == PyInit_* && $(wc -l <<<"$exported") -eq 1 ]] ||
    { echo "check_install: $extension exports more than its PyInit_ function:" >&2; echo "$exported" >&2; exit 1; }
done
echo "check_install: each installed extension exports its PyInit_ function only"
# libudev is loaded when a watch starts, where there is one: never a library the modules need to load.
for extension in "$site"/*.so "$site"/zorvekcam/*.so; do
  [[ -e $extension ]] || continue
  if readelf -d "$extension" | grep -q 'NEEDED.*libudev'; then
    echo "check_install: $extension is linked with libudev" >&2
    exit 1
  fi
done
echo "check_install: no installed extension is linked with libudev"

if cmake -S . -B "$work/cmake-pybind11-3" -G Ninja -DPython_EXECUTABLE="$fresh" \
  -Dpybind11_DIR="$("$fresh" -m pybind11 --cmakedir)" >"$work/cmake-pybind11-3.log" 2>&1 ||
  ! grep -q "needs pybind11 2.11" "$work/cmake-pybind11-3.log"; then
  cat "$work/cmake-pybind11-3.log" >&2
  echo "check_install: configuring against pybind11 3 did not stop with the message" >&2
  exit 1
fi
echo "check_install: a CMake build that finds only pybind11 3 stops at configure time"

# The package's smoke test: `zorvekcam --json` and `python -m zorvekcam --json` from another folder,
# and the records module's class accepted by Zorvek (built against pybind11 2.11, whatever is beside).
"$fresh" "$project/tests/smoke.py" "$version" | sed 's/^/check_install: /'
"$python" -m mypy --strict --no-incremental --python-executable "$fresh" -p zorvekcam
"$python" -m mypy --strict --no-incremental --python-executable "$fresh" "$project/tests/zorvekcam/typed_user.py"
