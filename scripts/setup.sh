#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, skipping what is already there:
#   scripts/setup.sh          the build: compilers, CMake inputs, Python headers and venv
#   scripts/setup.sh --test   the build plus every test tool
#   scripts/setup.sh --bench  the build plus what the benchmarks run (scripts/bench.sh)
# Then makes the virtual environment .venv: the project, and the tools of pyproject.toml's dependency
# groups (test, which holds release; with --bench, bench as well).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(g++ python3-dev python3-venv)
# Wanted by a test stage of their own, which is skipped where they cannot be installed.
optional=()
groups=(--group test)
if [[ "${1:-}" == "--test" ]]; then
  packages+=(libgtest-dev googletest clang libclang-rt-14-dev valgrind libbenchmark-dev libudev1)
  optional+=(g++-mingw-w64-x86-64-posix wine wine64 unzip)
  optional+=(umockdev gir1.2-umockdev-1.0 python3-gi python3-pytest)
  # The readers the modes are compared with over the same fake nodes (tests/linux/test_modes_peers.py).
  optional+=(v4l-utils ffmpeg gstreamer1.0-tools gstreamer1.0-plugins-base-apps gstreamer1.0-plugins-good)
  optional+=(qemu-user-static)
elif [[ "${1:-}" == "--bench" ]]; then
  packages+=(libbenchmark-dev umockdev gir1.2-umockdev-1.0 python3-gi libudev1 v4l-utils)
  groups+=(--group bench)
fi

missing=()
for package in "${packages[@]}" "${optional[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  $sudo apt-get update -q
  install() { DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "$@"; }
  if ! install "${missing[@]}"; then
    echo "setup: trying again without the optional packages ${optional[*]}" >&2
    install "${packages[@]}"
  fi
fi

# The module is for CPython 3.11: use the first python3.11 on PATH, else python3 if it is 3.11.
python=${ZORVEK_PYTHON:-}
if [[ -z "$python" ]]; then
  for candidate in python3.11 python3; do
    if command -v "$candidate" >/dev/null && "$candidate" -c 'import sys; sys.exit(sys.version_info[:2] != (3, 11))' 2>/dev/null; then
      python=$(command -v "$candidate")
      break
    fi
  done
fi
[[ -n "$python" ]] || { echo "setup: no CPython 3.11 found" >&2; exit 1; }

if [[ ! -x .venv/bin/python ]]; then
  "$python" -m venv .venv
fi
# Dependency groups need pip 25.1 or later.
.venv/bin/python -m pip install -q --upgrade pip
.venv/bin/python -m pip install -q "${groups[@]}" .
