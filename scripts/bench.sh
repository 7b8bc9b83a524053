#!/usr/bin/env bash
# Sets up (scripts/setup.sh --bench), builds the benchmarks in build/bench, runs them all and prints
# one table of the results with their ratios and targets (bench/report.py). Takes a few minutes;
# what each step measured stays in build/bench/results/. docs/performance.md tells what it means.
#   scripts/bench.sh [--nodes N] [--rounds R]   fake video4linux nodes for the Linux scan against
#                                               its floor (64), and its rounds (3)
# The Python measurements take the modules and the package zorvekcam as installed into .venv (by
# the setup, from this tree), the peers they are compared with too.
set -euo pipefail
cd "$(dirname "$0")/.."

nodes=64
rounds=3
while (($#)); do
  case $1 in
    --nodes) nodes=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    *) echo "usage: scripts/bench.sh [--nodes N] [--rounds R]" >&2; exit 2 ;;
  esac
done

scripts/setup.sh --bench
# Python as it runs by default: with PYTHONUNBUFFERED set, the C library writes every trace text of a
# scan to standard output at once, which bench/python_bench.py measures on its own.
unset PYTHONUNBUFFERED
python=$PWD/.venv/bin/python
export PATH=$PWD/.venv/bin:$PATH
build=build/bench
results=$build/results
step() { printf '\n==== %s\n' "$*" >&2; }

step "Building the benchmarks"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZORVEK_BUILD_BENCHMARKS=ON \
  -DPython_EXECUTABLE="$python" -Dpybind11_DIR="$("$python" -m pybind11 --cmakedir)" >/dev/null
cmake --build "$build" -j 2 >&2
scripted_module=$(echo "$build"/scripted/Zorvek.*.so)
rm -rf "$results"
mkdir -p "$results"
uptime >"$results/load-before.txt"

# Google Benchmark's own table goes to standard error as it runs; the programs keep standard output
# for the trace of the code under test, sent to /dev/null.
step "The matching rule, the scan and the queries over scripted devices"
"$build"/bench/bench_discovery --benchmark_out="$results/discovery.json" --benchmark_out_format=json \
  --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true

step "Python: import time, and a count's cost above the native call"
"$python" bench/python_bench.py --scripted-module "$scripted_module" --native-bench "$build"/bench/bench_discovery \
  --out "$results/python.json"

step "Linux: Zorvek's scan over $nodes fake nodes against the floor (umockdev, $rounds rounds)"
umockdev-wrapper /usr/bin/python3 bench/sysfs_compare.py --bench-sysfs "$build"/bench/bench_sysfs \
  --nodes "$nodes" --rounds "$rounds" --out "$results/sysfs.json"

step "Linux: zorvekcam.list_devices() against the bare scan and the peers, the counting thread (umockdev)"
umockdev-wrapper /usr/bin/python3 bench/listing_compare.py --python "$python" --out "$results/listing.json"

step "Linux: list_devices() over a process's life: first, repeated, after a replug; a watch's walk (umockdev)"
# With ZORVEK_BENCH_TODAY, a folder holding another build of the package zorvekcam, its first
# listing is timed beside this one's. A first listing with udev's database too, where a mount
# namespace gives the step a /run of its own to write the database in.
lifecycle=(umockdev-wrapper /usr/bin/python3 bench/listing_lifecycle.py --python "$python"
  --out "$results/lifecycle.json")
[[ -n ${ZORVEK_BENCH_TODAY:-} ]] && lifecycle+=(--today "$ZORVEK_BENCH_TODAY")
if unshare --mount --propagation private true 2>/dev/null; then
  unshare --mount --propagation private sh -c 'mount -t tmpfs -o mode=0755 tmpfs /run && exec "$@"' sh \
    env ZORVEK_BENCH_PRIVATE_RUN=1 "${lifecycle[@]}" --udev-database
else
  "${lifecycle[@]}"
fi

step "Linux: Camera.modes() of one camera against linuxpy and v4l2-ctl on the same fake node (umockdev)"
umockdev-wrapper /usr/bin/python3 bench/modes_compare.py --python "$python" --out "$results/modes.json"

step "Linux: the scan against the floor over the same nodes as plain files (a mount namespace)"
"$python" bench/sysfs_native.py --bench-sysfs "$build"/bench/bench_sysfs --nodes "$nodes" --rounds "$rounds" \
  --out "$results/native.json"
native=()
[[ -f $results/native.json ]] && native=(--native "$results/native.json")

step "Linux: zorvekcam.watch() over uevents (umockdev): latency, an idle watch, a burst, awatch's loop"
umockdev-wrapper /usr/bin/python3 bench/watch_bench.py --python "$python" --out "$results/watch.json"

uptime >"$results/load-after.txt"
step "Results"
"$python" bench/report.py --discovery "$results/discovery.json" --python "$results/python.json" \
  --listing "$results/listing.json" --lifecycle "$results/lifecycle.json" --modes "$results/modes.json" --sysfs "$results/sysfs.json" "${native[@]}" \
  --watch "$results/watch.json" \
  --load-before "$results/load-before.txt" --load-after "$results/load-after.txt" | tee "$results/table.md"
