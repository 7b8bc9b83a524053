#!/usr/bin/env bash
# The Python tests of the module and the package over scripted devices, with the module, the
# package's core, the records module and the probe extension built by clang with AddressSanitizer
# and UndefinedBehaviorSanitizer. The interpreter itself is not instrumented: the sanitizer runtime
# is preloaded into it, and leak checking is off (the interpreter keeps memory until exit by design).
# Huge allocations fail as MemoryError instead of stopping the process. Expects scripts/setup.sh
# --test to have run.
set -euo pipefail
cd "$(dirname "$0")/.."

python=$PWD/.venv/bin/python
build=build/asan-python
CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZORVEK_SANITIZE=ON -DZORVEK_BUILD_TESTS=ON \
  -DPython_EXECUTABLE="$python" -Dpybind11_DIR="$("$python" -m pybind11 --cmakedir)" >/dev/null
cmake --build "$build" -j "$(nproc)" --target Zorvek_scripted zorvekcam_core_scripted zorvek_records records_probe

runtime=$(clang -print-file-name=libclang_rt.asan-x86_64.so)
[[ -f "$runtime" ]] || { echo "no AddressSanitizer runtime at $runtime" >&2; exit 1; }
# pytest holds file descriptor 2 while a test runs, so the sanitizers write their reports to files.
reports=$PWD/$build/reports
rm -rf "$reports" && mkdir -p "$reports"
status=0
# The interpreter's objects from malloc, not its own pools, so that an object the modules release once
# too often (and that no free list keeps) is a use after free that the sanitizer reports where it
# happens.
ZORVEK_SCRIPTED_DIR=$PWD/$build/scripted LD_PRELOAD=$runtime PYTHONMALLOC=malloc \
  ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1:abort_on_error=1:log_path=$reports/asan \
  UBSAN_OPTIONS=print_stacktrace=1:log_path=$reports/ubsan \
  "$python" -m pytest -q -p no:cacheprovider \
  tests/module/test_module_arguments.py tests/module/test_module_scenarios.py tests/module/test_records.py \
  tests/zorvekcam/test_devices.py tests/zorvekcam/test_watch.py tests/zorvekcam/test_modes.py || status=$?
# A refused huge allocation leaves a warning there too; errors are what fail the run.
if compgen -G "$reports/*" >/dev/null && { ((status != 0)) || grep -qE "ERROR:|runtime error:" "$reports"/*; }; then
  cat "$reports"/* >&2
  status=1
fi
exit "$status"
