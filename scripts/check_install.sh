#!/usr/bin/env bash
# What a newcomer does: builds the wheel with `pip wheel .`, installs the project with `pip install .`
# into a fresh virtual environment, lists the cameras from there with `python -m zorvekcam --json`,
# and type-checks a small user script against the installed type stubs with `mypy --strict`.
set -euo pipefail
cd "$(dirname "$0")/.."
project=$PWD
python=${ZORVEK_PYTHON:-$project/.venv/bin/python}  # a CPython 3.11, with mypy (the test extra)
work=$project/build/check_install
rm -rf "$work"
mkdir -p "$work/wheels" "$work/elsewhere"

"$python" -m pip wheel -q --no-deps -w "$work/wheels" .
version=$(sed -n 's/^project(zorvek VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
wheel=$(ls "$work/wheels")
expected="zorvek-$version-cp311-cp311-linux_$(uname -m).whl"
[[ "$wheel" == "$expected" ]] || { echo "check_install: built $wheel, expected $expected" >&2; exit 1; }
echo "check_install: pip wheel . gave $wheel"

"$python" -m venv "$work/venv"
"$work/venv/bin/python" -m pip install -q .
fresh=$work/venv/bin/python

# From another directory, so that nothing of the source tree can be imported instead.
cd "$work/elsewhere"
status=0
"$fresh" -m zorvekcam --json >listing.json 2>listing.err || status=$?
((status <= 1)) || { cat listing.err >&2; echo "check_install: python -m zorvekcam failed ($status)" >&2; exit 1; }
"$fresh" - "$status" "$version" <<'PY'
import json, sys
import zorvekcam
status, version = int(sys.argv[1]), sys.argv[2]
listing = json.load(open("listing.json"))
assert isinstance(listing, list), listing
# 0 with cameras, 1 without: the exit status and the listing agree.
assert status == (0 if listing else 1), (status, listing)
assert zorvekcam.__version__ == version, (zorvekcam.__version__, version)
assert "site-packages" in zorvekcam.__file__, zorvekcam.__file__
print(f"check_install: python -m zorvekcam --json listed {len(listing)} camera(s), exit status {status}")
PY
"$python" -m mypy --strict --no-incremental --python-executable "$fresh" -p zorvekcam
"$python" -m mypy --strict --no-incremental --python-executable "$fresh" "$project/tests/zorvekcam/typed_user.py"
