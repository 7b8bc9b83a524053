#!/usr/bin/env bash
# Prints one hash of everything the package is built from, for scripts/setup.sh's stamp:
#   scripts/inputs_hash.sh PYTHON
# the content and path of every file of the tree but what is made or kept locally (.git, .venv,
# build, dist, caches) and what never goes into the package (tests, docs, benchmarks, examples,
# fuzzing, scripts, CI), and the version of PYTHON, which the package is built for.
set -euo pipefail
cd "$(dirname "$0")/.."
{
  "$1" -c 'import sys; print(sys.version)'
  find . \( -path ./.git -o -path ./.venv -o -path ./build -o -path ./dist -o -path ./tests -o -path ./docs \
    -o -path ./bench -o -path ./examples -o -path ./fuzz -o -path ./scripts -o -path ./.ci \
    -o -name __pycache__ -o -name '*.egg-info' -o -name .pytest_cache -o -name .mypy_cache -o -name .ruff_cache \) -prune \
    -o -type f -print0 | LC_ALL=C sort -z | xargs -0 -r sha256sum
} | sha256sum | cut -d' ' -f1
