#!/usr/bin/env bash
# Sets up what the listing needs (scripts/setup.sh: the package in .venv, built again only when its
# sources changed) and lists the attached target cameras. Having none attached is no failure of this
# job: the listing says so (its exit status 1) and the job succeeds. Ends by saying, on standard
# error (standard output may be JSON), how to run the command without this script.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
status=0
.venv/bin/zorvekcam "$@" || status=$?
cat >&2 <<NOTE

zorvekcam is installed in $PWD/.venv: run $PWD/.venv/bin/zorvekcam [--json] [--watch] [--help],
or first ". $PWD/.venv/bin/activate", then zorvekcam or python -m zorvekcam.
NOTE
exit $((status == 1 ? 0 : status))
