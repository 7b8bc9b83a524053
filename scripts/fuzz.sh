#!/usr/bin/env bash
# Builds the fuzz targets of fuzz/ (clang's libFuzzer with AddressSanitizer and
# UndefinedBehaviorSanitizer) into build/fuzz and runs each for a bounded time from the seeds in
# fuzz/corpus:
#   scripts/fuzz.sh                    20 seconds per target (what the test command runs)
#   scripts/fuzz.sh 3600               an hour per target
#   scripts/fuzz.sh 600 match          chosen targets only: match, narrow_field, debug_print
# The inputs a run finds are kept in build/fuzz/corpus/<target> and carried into the next run. An
# input that breaks a target is saved in build/fuzz/crashes/ and the script fails; replay it with
#   build/fuzz/fuzz/fuzz_<target> build/fuzz/crashes/<file>
set -euo pipefail
cd "$(dirname "$0")/.."

# The build tools of the project's virtual environment, where scripts/setup.sh made one.
[[ -d .venv/bin ]] && PATH=$PWD/.venv/bin:$PATH

seconds=${1:-20}
targets=("${@:2}")
((${#targets[@]})) || targets=(match narrow_field debug_print)

CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORVEK_FUZZ=ON \
  -DZORVEK_BUILD_MODULE=OFF >/dev/null
cmake --build build/fuzz -j "$(nproc)"

mkdir -p build/fuzz/crashes
summary=()
for target in "${targets[@]}"; do
  mkdir -p "build/fuzz/corpus/$target"
  log=build/fuzz/$target.log
  started=$SECONDS
  if ! build/fuzz/fuzz/fuzz_"$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="build/fuzz/crashes/$target-" "build/fuzz/corpus/$target" "fuzz/corpus/$target" \
    >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz: $target failed; the input is in build/fuzz/crashes/, the whole log in $log" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  summary+=("$(printf '%-14s %12s inputs in %3d s, corpus %s' "$target" "$runs" $((SECONDS - started)) \
    "$(find "build/fuzz/corpus/$target" -type f | wc -l)")")
done
printf '%s\n' "${summary[@]}"
