#!/usr/bin/env bash
# Try zorvekcam without a camera, on Linux: fake cameras of the model in a umockdev testbed, listed
# by the package and by its command, then a watch that sees one plugged in and unplugged.
#   bash examples/fake_cameras.sh
# Installs umockdev and its Python bindings with apt where it may (as root, or with sudo), else says
# what to install; takes zorvekcam from the project's .venv, which scripts/setup.sh makes (the
# package alone, as scripts/run.sh does), or from the Python named by ZORVEKCAM_PYTHON.
set -euo pipefail
cd "$(dirname "$0")/.."

needed=(umockdev gir1.2-umockdev-1.0 python3-gi)
missing=()
for package in "${needed[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if ((${#missing[@]})); then
  sudo=""
  if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null || { echo "fake_cameras: please install ${missing[*]} (apt), then run this again" >&2; exit 1; }
    sudo=sudo
  fi
  echo "fake_cameras: installing ${missing[*]}"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

python=${ZORVEKCAM_PYTHON:-}
if [[ -z $python ]]; then
  scripts/setup.sh
  python=$PWD/.venv/bin/python
fi
# umockdev's bindings come with Debian's own Python, which runs the testbed; zorvekcam runs in $python.
exec umockdev-wrapper /usr/bin/python3 examples/fake_cameras.py "$python"
