# Sourced by scripts/test_windows.sh (after scripts/windows_env.sh): what the Windows tests of Media
# Foundation's index need beside the wheel.
#   windows_msmf DIR   builds the tests' stand-in mf.dll (tests/windows/mf_standin/) into DIR/mf-standin
#                      with mingw-w64, and fetches once into the cache the Windows wheel of the peer
#                      that reads Media Foundation's list, cv2-enumerate-cameras (the version of
#                      pyproject.toml's bench group); sets msmf_standin_dir and msmf_peer_wheel, both
#                      empty (with a message) where mingw-w64 is missing, and the tests then skip.
windows_msmf() {
  msmf_standin_dir="" msmf_peer_wheel=""
  if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
    echo "windows: no mingw-w64 (g++-mingw-w64-x86-64-posix): the tests of Media Foundation's index skip" >&2
    return 0
  fi
  local dir=$1/mf-standin
  rm -rf "$dir" && mkdir -p "$dir"
  # Static: the DLL needs nothing but what Windows (and Wine) has, mfplat.dll included.
  x86_64-w64-mingw32-g++-posix -std=c++17 -O1 -Wall -Wextra -Werror -shared -static -o "$dir/mf.dll" \
    "$project/tests/windows/mf_standin/mf_standin.cpp" -lmfplat -lmfuuid -lole32 -luuid
  msmf_standin_dir=$dir
  local requirement
  requirement=$("$python" - "$project/pyproject.toml" <<'PY'
import sys, tomllib
with open(sys.argv[1], "rb") as f:
    bench = tomllib.load(f)["dependency-groups"]["bench"]
print(next(r for r in bench if isinstance(r, str) and r.startswith("cv2-enumerate-cameras==")))
PY
)
  local glob="cv2_enumerate_cameras-${requirement##*==}-*-win_amd64.whl"
  mkdir -p "$cache/downloads"
  if ! compgen -G "$cache/downloads/$glob" >/dev/null; then
    echo "windows: fetching the Windows wheel of $requirement into $cache/downloads" >&2
    env -u PIP_NO_INDEX -u PIP_FIND_LINKS "$python" -m pip download -q --no-deps --only-binary=:all: \
      --platform win_amd64 --python-version 3.11 -d "$cache/downloads" "$requirement" >&2
  fi
  msmf_peer_wheel=$(compgen -G "$cache/downloads/$glob" | head -1)
}
