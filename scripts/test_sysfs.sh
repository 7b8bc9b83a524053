#!/usr/bin/env bash
# The Linux sysfs device source, through the shipped module (.venv), over fake V4L2 devices under
# umockdev, with the records module installed beside it.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v umockdev-wrapper >/dev/null ||
  ! /usr/bin/python3 -c 'import gi; gi.require_version("UMockdev", "1.0")' 2>/dev/null; then
  echo "SKIPPED: umockdev (umockdev, gir1.2-umockdev-1.0, python3-gi, python3-pytest) cannot be installed here"
  exit 0
fi

ZORVEK_SHIPPED_PYTHON=$PWD/.venv/bin/python umockdev-wrapper /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/linux
