#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, skipping what is already there:
#   scripts/setup.sh            what the listing needs: the package built into .venv, nothing more
#   scripts/setup.sh --release  that, plus the release tools (scripts/release.sh)
#   scripts/setup.sh --test     that, plus every test tool
#   scripts/setup.sh --bench    that, plus what the benchmarks run (scripts/bench.sh)
# Then makes the virtual environment .venv: the project, and the tools of pyproject.toml's dependency
# groups (release; test, which holds release; with --bench, bench as well).
# Without an option, nothing is built or installed again while the inputs of the build are the ones
# the package in .venv was built from (the stamp .venv/zorvek-inputs holds their hash, from
# scripts/inputs_hash.sh): a repeated scripts/run.sh then takes a moment, not a rebuild.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-}
case $mode in
  "" | --release | --test | --bench) ;;
  *) echo "usage: scripts/setup.sh [--release | --test | --bench]" >&2; exit 2 ;;
esac

stamp=.venv/zorvek-inputs
if [[ -z $mode && -x .venv/bin/python && -x .venv/bin/zorvekcam && -f $stamp ]] &&
  [[ $(cat "$stamp") == "$(scripts/inputs_hash.sh .venv/bin/python)" ]]; then
  exit 0
fi

packages=(g++ python3-dev python3-venv)
# Wanted by a test stage of their own, which is skipped where they cannot be installed.
optional=()
groups=()
if [[ $mode == --release ]]; then
  groups=(--group release)
elif [[ $mode == --test ]]; then
  groups=(--group test)
  packages+=(libgtest-dev googletest clang libclang-rt-14-dev clang-format-14 valgrind libbenchmark-dev libudev1)
  optional+=(g++-mingw-w64-x86-64-posix wine wine64 unzip)
  optional+=(umockdev gir1.2-umockdev-1.0 python3-gi python3-pytest)
  # The readers the modes are compared with over the same fake nodes (tests/linux/test_modes_peers.py).
  optional+=(v4l-utils ffmpeg gstreamer1.0-tools gstreamer1.0-plugins-base-apps gstreamer1.0-plugins-good)
  optional+=(qemu-user-static)
elif [[ "${1:-}" == "--bench" ]]; then
  packages+=(libbenchmark-dev umockdev gir1.2-umockdev-1.0 python3-gi libudev1 v4l-utils)
  groups=(--group test --group bench)
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
# Hashed before the build, so that a file changed while it runs makes the next run build again.
inputs=$(scripts/inputs_hash.sh .venv/bin/python)
rm -f "$stamp"
if ((${#groups[@]})); then
  # Dependency groups need pip 25.1 or later.
  .venv/bin/python -m pip install -q --upgrade pip
  .venv/bin/python -m pip install -q "${groups[@]}" .
else
  # The package alone: pip builds it in an environment of its own (scikit-build-core, CMake, pybind11
  # stay there), and .venv receives the package and nothing else.
  .venv/bin/python -m pip install -q --disable-pip-version-check .
fi
echo "$inputs" >"$stamp"
