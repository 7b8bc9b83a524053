#!/usr/bin/env bash
# Runs every C++ test program of a plain (unsanitised) build under valgrind's memcheck: any invalid
# read or write, use of uninitialised memory or leak fails the run.
#   scripts/memcheck.sh [build dir]      default build/tests, as scripts/test.sh builds it
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/tests}

mapfile -t programs < <(find "$build/tests" -type f -executable -name '*_tests' | sort)
((${#programs[@]})) || { echo "memcheck: no test programs under $build/tests" >&2; exit 1; }
for program in "${programs[@]}"; do
  started=$SECONDS
  log=$program.memcheck
  if ! valgrind --quiet --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect,possible \
    --show-leak-kinds=definite,indirect,possible --track-origins=yes --log-file="$log.log" \
    "$program" --gtest_brief=1 >"$log.out" 2>&1; then
    cat "$log.out" "$log.log"
    echo "memcheck: $program failed under valgrind" >&2
    exit 1
  fi
  echo "memcheck: $(basename "$program") clean in $((SECONDS - started)) s"
done
