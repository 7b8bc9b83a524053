#!/usr/bin/env bash
# Sets up (scripts/setup.sh) and lists the attached target cameras.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
exec .venv/bin/python -c 'import Zorvek; print("\nattached:", Zorvek.getDeviceCount(0))'
