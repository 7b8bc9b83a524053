# Cross-builds the Windows (x64) programs with mingw-w64 on Debian, and runs them through Wine:
#   cmake -S . -B build/wine -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-posix.cmake -DZORVEK_BUILD_MODULE=OFF
# The -posix compilers: the win32-threads variant has no std::mutex or std::thread, which
# GoogleTest needs, and the unsuffixed x86_64-w64-mingw32-g++ is that variant when both are installed.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZORVEK_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZORVEK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZORVEK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZORVEK_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZORVEK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything linked in, so that a test .exe runs under Wine with no DLL of the compiler beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# CTest (and GoogleTest's test discovery) start the .exe files through Wine. Its 64-bit loader is
# called directly: the `wine` wrapper looks for a 32-bit Wine first and warns when it is missing.
find_program(ZORVEK_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT ZORVEK_WINE)
  find_program(ZORVEK_WINE NAMES wine64 wine)
endif()
if(ZORVEK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZORVEK_WINE})
endif()
