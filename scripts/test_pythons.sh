#!/usr/bin/env bash
# zorvekcam on the CPython versions its users run, on Linux: 3.11 (the virtual environment's), 3.13
# (Debian trixie's), 3.14 and 3.15 (sid's), the later ones from roots of their own
# (scripts/debian_root.sh, cached), each started through its root's own loader. On each:
# - the release's wheel that fits, installed by pip running in that interpreter, with --target into a
#   fresh folder, from RELEASE_DIR: pip must pick cp311-cp311 on 3.11 and cp311-abi3 on the others;
# - the console command `zorvekcam --json` that pip wrote prints [] with status 1 (no camera here);
#   on the later versions `import Zorvek` is an ImportError that names 3.11;
# - the package's tests over scripted devices (tests/zorvekcam; SCRIPTED_DIR holds the test build's
#   abi3 core), and the watch tests under umockdev (tests/linux/test_watch.py, whose children run
#   this interpreter) where umockdev is installed;
# - `import zorvekcam`'s time: the median of 11 fresh interpreters' -X importtime, printed.
#   scripts/test_pythons.sh [RELEASE_DIR [SCRIPTED_DIR]]     (build/dist, build/tests/scripted)
# pytest and pip come as wheels, downloaded once into the cache beside the roots.
set -euo pipefail
cd "$(dirname "$0")/.."
project=$PWD
release=$(realpath "${1:-build/dist}")
scripted=$(realpath "${2:-build/tests/scripted}")
compgen -G "$release/zorvek-*-abi3-*.whl" >/dev/null ||
  { echo "pythons: no release wheels in $release (scripts/release.sh --out $release makes them)" >&2; exit 1; }
compgen -G "$scripted/zorvekcam/_core.abi3.so" >/dev/null ||
  { echo "pythons: no test build of the package's core in $scripted (configure with -DZORVEK_BUILD_TESTS=ON)" >&2; exit 1; }
venv_python=$project/.venv/bin/python
version=$(sed -n 's/^project(zorvek VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
cache=${ZORVEK_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/zorvek}/pythons
work=$project/build/pythons
rm -rf "$work"
mkdir -p "$work" "$cache/wheelhouse"
say() { printf 'pythons: %s\n' "$*"; }

# pip and pytest of the versions the virtual environment has, as wheels any of the interpreters runs.
wheelhouse=$cache/wheelhouse
pip_version=$("$venv_python" -m pip --version | cut -d' ' -f2)
pytest_version=$("$venv_python" -m pytest --version 2>&1 | cut -d' ' -f2)
pip_wheel=$wheelhouse/pip-$pip_version-py3-none-any.whl
if [[ ! -f $pip_wheel || ! -f $wheelhouse/pytest-$pytest_version-py3-none-any.whl ]]; then
  "$venv_python" -m pip download -q -d "$wheelhouse" --only-binary :all: --python-version 3.13 \
    "pip==$pip_version" "pytest==$pytest_version"
fi

# launcher NAME ROOT BINARY: a command that runs ROOT's interpreter through ROOT's own loader, under
# its own name (sys.executable), so that the children it starts, and the console commands pip
# writes for it, run the same way. A library path of the caller's (LD_LIBRARY_PATH) comes first.
launcher() {
  local root=$2 libraries="$2/lib/x86_64-linux-gnu:$2/usr/lib/x86_64-linux-gnu"
  cat >"$work/$1" <<SH
#!/bin/sh
PYTHONHOME=$root/usr exec $root/usr/lib64/ld-linux-x86-64.so.2 --library-path "\${LD_LIBRARY_PATH:+\$LD_LIBRARY_PATH:}$libraries" --argv0 "\$0" $root/usr/bin/$3 "\$@"
SH
  chmod +x "$work/$1"
  echo "$work/$1"
}

roots=()
for minor in 13 14 15; do
  suite=$([[ $minor == 13 ]] && echo trixie || echo sid)
  root=$(scripts/debian_root.sh "$suite" amd64 "python3.$minor" "python3.$minor-minimal" "libpython3.$minor-minimal" \
    "libpython3.$minor-stdlib" libc6 libexpat1 zlib1g libffi8 libssl3t64 libbz2-1.0 liblzma5 libzstd1 libmpdec4)
  roots+=("$(launcher "python3.$minor" "$root" "python3.$minor")")
done

umockdev=yes
if ! command -v umockdev-wrapper >/dev/null ||
  ! /usr/bin/python3 -c 'import gi; gi.require_version("UMockdev", "1.0")' 2>/dev/null; then
  umockdev=no
fi

summary=()
for python in "$venv_python" "${roots[@]}"; do
  release_of=$("$python" -c 'import sys; print(sys.version.split()[0])')
  minor=$("$python" -c 'import sys; print(sys.version_info[1])')
  say "CPython $release_of ($python)"
  target=$work/site-3.$minor
  "$python" "$pip_wheel/pip" install -q --disable-pip-version-check --root-user-action=ignore --no-index --find-links "$wheelhouse" \
    --find-links "$release" --target "$target" "zorvek==$version" pytest 2>&1 | grep -v '^WARNING: Location' || true
  tag=$(sed -n 's/^Tag: //p' "$target/zorvek-$version.dist-info/WHEEL")
  expected=$([[ $minor == 11 ]] && echo cp311-cp311 || echo cp311-abi3)
  [[ $tag == "$expected-"* ]] || { say "pip installed the $tag wheel on CPython $release_of, not $expected" >&2; exit 1; }
  # The interpreter with the installed folder on its path, for the children of the tests.
  printf '#!/bin/sh\nPYTHONPATH=%s exec %s "$@"\n' "$target" "$python" >"$target/python"
  chmod +x "$target/python"

  status=0
  listed=$(cd "$work" && "$target/python" "$target/bin/zorvekcam" --json) || status=$?
  [[ $listed == "[]" && $status == 1 ]] ||
    { say "zorvekcam --json printed '$listed' with status $status, not [] and 1" >&2; exit 1; }
  say "pip installed zorvek-$version-$tag; zorvekcam --json printed [] with status 1"
  if [[ $minor != 11 ]]; then
    status=0
    refused=$(cd "$work" && "$target/python" -c "import Zorvek" 2>&1) || status=$?
    [[ $status == 1 && $refused == *"ImportError: Zorvek and zorvek_records are built for CPython 3.11 only"* ]] ||
      { say "import Zorvek ended with status $status: $refused" >&2; exit 1; }
    say "import Zorvek: ImportError, naming CPython 3.11"
  fi

  # The 3.11 run takes the virtual environment's own tools (mypy, pybind11-stubgen) for the stub tests.
  ZORVEK_SCRIPTED_DIR=$scripted "$target/python" -m pytest -q -p no:cacheprovider tests/zorvekcam |
    sed 's/^/pythons:   /'
  if [[ $umockdev == yes ]]; then
    ZORVEK_SHIPPED_PYTHON=$target/python umockdev-wrapper /usr/bin/python3 -m pytest -q -p no:cacheprovider \
      tests/linux/test_watch.py | sed 's/^/pythons:   umockdev: /'
  else
    say "SKIPPED the watch tests under umockdev: umockdev (umockdev, gir1.2-umockdev-1.0, python3-gi) is not installed"
  fi

  median=$(cd "$work" && "$target/python" "$project/bench/import_time.py" zorvekcam 11)
  summary+=("$(printf 'CPython %-8s import zorvekcam: median %5s ms of 11 fresh interpreters' "$release_of" "$median")")
done
printf 'pythons: %s\n' "${summary[@]}"
