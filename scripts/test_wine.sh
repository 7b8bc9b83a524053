#!/usr/bin/env bash
# The Windows build of the discovery code and its tests, cross-built with mingw-w64 and run under
# Wine, whose system device enumerator lists the fake cameras the tests put in its registry.
#   scripts/test_wine.sh [build dir]      (default build/wine)
# Skipped, with a message, where the cross compiler or Wine is missing (scripts/setup.sh --test
# installs them where it can). Leaves no Wine process behind, whatever happens.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/wine}
[[ $build == /* ]] || build=$PWD/$build
# The build tools of the project's own environment, as the other stages use them.
[[ -d .venv/bin ]] && export PATH="$PWD/.venv/bin:$PATH"

# The 64-bit loader itself: the `wine` wrapper would look for a 32-bit Wine first.
wine=""
for candidate in /usr/lib/wine/wine64 "$(command -v wine64 || true)" "$(command -v wine || true)"; do
  if [[ -n "$candidate" && -x "$candidate" ]]; then
    wine=$candidate
    break
  fi
done
if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null || [[ -z "$wine" ]] || ! command -v wineserver >/dev/null; then
  echo "SKIPPED: the Windows tests need mingw-w64 (g++-mingw-w64-x86-64-posix) and Wine (wine, wine64)," \
    "which could not be installed here"
  exit 0
fi

if compgen -G '/dev/video*' >/dev/null; then
  echo "wine: this machine has video devices of its own, which Wine lists beside the tests' fake ones" >&2
fi

seconds() { date +%s.%N; }
took() { awk -v from="$1" -v to="$(seconds)" 'BEGIN { printf "%.1f s", to - from }'; }

started=$(seconds)
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-posix.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORVEK_BUILD_TESTS=ON -DZORVEK_BUILD_MODULE=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
echo "wine: cross build $(took "$started")"

# A prefix of the tests' own, so that no camera or setting of the user's takes part. Made once and
# reused; a half-made one (interrupted) is made again. No Mono or Gecko: nothing here needs them.
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

keeper=""
stop_wine() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  if [[ -n $keeper ]]; then
    kill "$keeper" 2>/dev/null || true
    wait "$keeper" 2>/dev/null || true
  fi
}
trap stop_wine EXIT
trap 'exit 130' INT TERM
stop_wine  # a server an earlier, killed run may have left

if [[ ! -f $WINEPREFIX/.zorvek-ready ]]; then
  started=$(seconds)
  rm -rf "$WINEPREFIX"
  "$wine" wineboot -i >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.zorvek-ready"
  echo "wine: prefix made in $(took "$started")"
fi

# One long-lived program that owns a window keeps Wine's desktop up, started here with its output
# going nowhere; otherwise each test program would start the desktop and wait for it on its output.
started=$(seconds)
ready=$build/desktop-ready
rm -f "$ready"
"$wine" "$build/tests/wine/desktop_keeper.exe" "Z:${ready//\//\\}" >/dev/null 2>&1 &
keeper=$!
for _ in $(seq 600); do
  [[ -f $ready ]] && break
  kill -0 "$keeper" 2>/dev/null || { echo "wine: the desktop keeper ended early" >&2; exit 1; }
  sleep 0.1
done
[[ -f $ready ]] || { echo "wine: the desktop did not come up within a minute" >&2; exit 1; }
echo "wine: desktop up in $(took "$started")"

started=$(seconds)
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
echo "wine: tests $(took "$started")"
