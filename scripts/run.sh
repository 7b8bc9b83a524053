#!/usr/bin/env bash
# Sets up (scripts/setup.sh) and lists the attached target cameras. Having none attached is no
# failure of this job: the listing says so (its exit status 1) and the job succeeds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
status=0
.venv/bin/python -m zorvekcam "$@" || status=$?
exit $((status == 1 ? 0 : status))
