# Sourced by scripts/test_windows.sh, after scripts/windows_env.sh: what the tests of camera modes on
# Windows (tests/windows/test_windows_modes.py) need beside the wheel.
#   windows_modes_prepare WORKDIR
# - the tests' capture filter (tests/windows/fake_filter/), cross-built with mingw-w64 into WORKDIR;
#   its path in ZORVEK_FAKE_FILTER_DLL (a Z: path), for the tests to register it;
# - a Windows ffmpeg: the one in PyPI's imageio-ffmpeg win_amd64 wheel, fetched once into the
#   cache like the other downloads and unpacked there; its path in ZORVEK_WINDOWS_FFMPEG.
# - where MSVC is set up (windows_msvc, as test_windows.sh does), the same filter built by MSVC, in
#   ZORVEK_MSVC_FILTER_DLL: a filter that throws a C++ exception is caught only by code of the same
#   C++ runtime's conventions, and a real filter is built by MSVC, as the wheel is;
# Where mingw-w64 is missing, neither is set and those tests skip, saying why.

imageio_ffmpeg_version=0.8.1

windows_modes_prepare() {  # windows_modes_prepare WORKDIR
  local work=$1
  unset ZORVEK_FAKE_FILTER_DLL ZORVEK_MSVC_FILTER_DLL ZORVEK_WINDOWS_FFMPEG
  if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
    echo "windows: no mingw-w64 (g++-mingw-w64-x86-64-posix): the camera modes tests will skip" >&2
    return 0
  fi
  mkdir -p "$work"
  local dll=$work/fake_capture_filter.dll
  x86_64-w64-mingw32-g++-posix -std=c++17 -O1 -Wall -Wextra -shared -static -DUNICODE -D_UNICODE \
    -o "$dll" "$project/tests/windows/fake_filter/fake_filter.cpp" "$project/tests/windows/fake_filter/fake_filter.def" \
    -lstrmiids -luuid -lole32 -loleaut32
  export ZORVEK_FAKE_FILTER_DLL=$(winpath "$dll")
  if [[ -n ${msvc_bin:-} ]]; then
    local source=$project/tests/windows/fake_filter
    # The C runtime linked in (/MT): the DLL needs nothing that Python does not bring.
    (cd "$work" && WINEPATH="$msvc_path" winrun "$msvc_bin/cl.exe" /nologo /LD /MT /EHsc /O1 /std:c++17 /utf-8 \
      /DUNICODE /D_UNICODE /D_CRT_SECURE_NO_WARNINGS "$(winpath "$source/fake_filter.cpp")" /link \
      "/DEF:$(winpath "$source/fake_filter.def")" strmiids.lib ole32.lib oleaut32.lib uuid.lib \
      /OUT:fake_capture_filter_msvc.dll) >"$work/msvc-build.log" 2>&1 || { cat "$work/msvc-build.log" >&2; return 1; }
    export ZORVEK_MSVC_FILTER_DLL=$(winpath "$work/fake_capture_filter_msvc.dll")
  fi

  # pip download of the Windows wheel (its platform named), once; the wheel is kept as PyPI gave it.
  local unpacked=$cache/imageio-ffmpeg-$imageio_ffmpeg_version-win_amd64 wheel
  if [[ ! -f $unpacked/.complete ]]; then
    mkdir -p "$cache/downloads"
    wheel=$(compgen -G "$cache/downloads/imageio_ffmpeg-$imageio_ffmpeg_version-*win_amd64.whl" | head -1 || true)
    if [[ -z $wheel ]]; then
      echo "windows: fetching imageio-ffmpeg==$imageio_ffmpeg_version (win_amd64) into $cache/downloads" >&2
      env -u PIP_NO_INDEX -u PIP_FIND_LINKS "$python" -m pip download -q --no-deps --only-binary=:all: \
        --platform win_amd64 -d "$cache/downloads" "imageio-ffmpeg==$imageio_ffmpeg_version" >&2
      wheel=$(compgen -G "$cache/downloads/imageio_ffmpeg-$imageio_ffmpeg_version-*win_amd64.whl" | head -1)
    fi
    rm -rf "$unpacked" && mkdir -p "$unpacked"
    unzip -q "$wheel" 'imageio_ffmpeg/binaries/*' -d "$unpacked"
    touch "$unpacked/.complete"
  fi
  local exe
  exe=$(compgen -G "$unpacked/imageio_ffmpeg/binaries/ffmpeg*.exe" | head -1)
  [[ -n $exe ]] || { echo "windows: no ffmpeg .exe in the imageio-ffmpeg wheel" >&2; return 1; }
  export ZORVEK_WINDOWS_FFMPEG=$(winpath "$exe")
}
