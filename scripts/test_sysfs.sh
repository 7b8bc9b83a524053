#!/usr/bin/env bash
# The Linux sysfs device source, through the shipped module (.venv), over fake V4L2 devices under
# umockdev. Run by scripts/test.sh after its C++ stage, which builds the tests' record type into
# build/tests/sysfs_records.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v umockdev-wrapper >/dev/null ||
  ! /usr/bin/python3 -c 'import gi; gi.require_version("UMockdev", "1.0")' 2>/dev/null; then
  echo "SKIPPED: umockdev (umockdev, gir1.2-umockdev-1.0, python3-gi, python3-pytest) cannot be installed here"
  exit 0
fi

ZORVEK_SHIPPED_PYTHON=$PWD/.venv/bin/python ZORVEK_SYSFS_RECORDS=$PWD/build/tests/sysfs_records \
  umockdev-wrapper /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/standin/sysfs
