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

tests=(env ZORVEK_SHIPPED_PYTHON="$PWD/.venv/bin/python" umockdev-wrapper /usr/bin/python3 -m pytest -q
  -p no:cacheprovider tests/linux)
# umockdev fakes /sys and /dev, not udev's database in /run/udev, whose entries are of the machine's
# own devices: the tests get an empty /run in a mount namespace of their own (as root), and write
# there what udev would. Without one, the tests of udev's entries are skipped.
if unshare --mount --propagation private true 2>/dev/null; then
  exec unshare --mount --propagation private sh -c 'mount -t tmpfs -o mode=0755 tmpfs /run && exec "$@"' sh \
    env ZORVEK_TEST_PRIVATE_RUN=1 "${tests[@]}"
fi
echo "no mount namespace here: udev's database is not faked"
exec "${tests[@]}"
