#!/usr/bin/env bash
# Debian 12's CPython 3.11 for another architecture, with its headers, unpacked into a root of its own
# (scripts/debian_root.sh: made once, then reused); prints the root's path:
#   scripts/python_root.sh ARCH        ARCH as Debian names it: arm64, amd64
# The release build takes the headers and the extension suffix of the modules from it; the aarch64
# test stage runs its interpreter under qemu-user (qemu-aarch64-static -L ROOT ROOT/usr/bin/python3.11).
# Only what that needs: the interpreter and its standard library, the C library and the few libraries
# the standard modules used here load (zlib for wheels, libffi, OpenSSL), the headers, and pip as a
# wheel (pure Python), which installs a wheel without a second process.
set -euo pipefail
(($# == 1)) || { echo "usage: scripts/python_root.sh ARCH" >&2; exit 2; }
exec "$(dirname "$0")/debian_root.sh" bookworm "$1" "py311-$1" python3.11-minimal libpython3.11-minimal \
  libpython3.11-stdlib libc6 libexpat1 zlib1g libffi8 libssl3 libpython3.11-dev python3-pip-whl
