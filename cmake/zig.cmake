# Builds for Linux on x86_64 or aarch64 against an older glibc than this machine's, with zig's C and
# C++ compilers (clang, with zig's own headers and link stubs of each glibc version, and its own
# libc++):
#   cmake -S . -B build/zig -DCMAKE_TOOLCHAIN_FILE=cmake/zig.cmake -DZORVEK_ZIG_TARGET=aarch64-linux-gnu.2.17 \
#     [-DZORVEK_ZIG=/path/to/zig]
# ZORVEK_ZIG_TARGET is zig's target: architecture, then linux-gnu, then the oldest glibc that what is
# built must run on. Whatever this builds needs no glibc symbol newer than that version, whatever the
# glibc of the build machine, and no system C++ runtime: zig links its libc++ into each program and
# library (statically; zorvek_shipped_extension's version script keeps it local to a module). zig is
# PyPI's ziglang (site-packages/ziglang/zig); without ZORVEK_ZIG, the first zig on PATH.
# Nothing is taken from this machine's /usr/include or /usr/lib: headers of other libraries (Python's)
# are named by their own variables (Python_INCLUDE_DIR), and programs built for another architecture
# run through CMAKE_CROSSCOMPILING_EMULATOR (qemu-user).
set(ZORVEK_ZIG_TARGET "" CACHE STRING "zig's target, e.g. x86_64-linux-gnu.2.17 or aarch64-linux-gnu.2.17")
if(NOT ZORVEK_ZIG_TARGET MATCHES "^(x86_64|aarch64)-linux-gnu(\\.[0-9]+\\.[0-9]+)?$")
  message(FATAL_ERROR "cmake/zig.cmake: set ZORVEK_ZIG_TARGET to ARCH-linux-gnu.GLIBC, e.g. aarch64-linux-gnu.2.17 "
                      "(it is \"${ZORVEK_ZIG_TARGET}\")")
endif()
find_program(ZORVEK_ZIG NAMES zig)
if(NOT ZORVEK_ZIG)
  message(FATAL_ERROR "cmake/zig.cmake: no zig found; pip install ziglang, then pass "
                      "-DZORVEK_ZIG=$(python -c 'import ziglang, os; print(os.path.dirname(ziglang.__file__))')/zig")
endif()
# The test programs that CMake builds while configuring are made with the same settings.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZORVEK_ZIG_TARGET ZORVEK_ZIG)

set(CMAKE_SYSTEM_NAME Linux)
string(REGEX MATCH "^[^-]+" CMAKE_SYSTEM_PROCESSOR "${ZORVEK_ZIG_TARGET}")

# CMake takes one program per tool, and zig is one program with subcommands: a small script per tool,
# written into the build tree (file(CONFIGURE) rewrites it only when it changes).
set(zorvek_zig_bin "${CMAKE_BINARY_DIR}/zig-${ZORVEK_ZIG_TARGET}")
foreach(tool cc c++ ar ranlib)
  set(arguments "${tool}")
  if(tool MATCHES "^c")
    set(arguments "${tool} -target ${ZORVEK_ZIG_TARGET}")
  endif()
  file(CONFIGURE OUTPUT "${zorvek_zig_bin}/${tool}" CONTENT "#!/bin/sh\nexec \"${ZORVEK_ZIG}\" ${arguments} \"$@\"\n"
       @ONLY)
  file(CHMOD "${zorvek_zig_bin}/${tool}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
       WORLD_READ WORLD_EXECUTE)
endforeach()
set(CMAKE_C_COMPILER "${zorvek_zig_bin}/cc")
set(CMAKE_CXX_COMPILER "${zorvek_zig_bin}/c++")
set(CMAKE_AR "${zorvek_zig_bin}/ar" CACHE FILEPATH "")
set(CMAKE_RANLIB "${zorvek_zig_bin}/ranlib" CACHE FILEPATH "")
# zig has no strip that works (its objcopy cannot strip a shared object), and this machine's strip
# knows x86_64 only: release builds are stripped by the linker instead, and the install step's strip
# is a no-op.
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_RELEASE_INIT "-s")
  set(CMAKE_${kind}_LINKER_FLAGS_MINSIZEREL_INIT "-s")
endforeach()
find_program(ZORVEK_TRUE NAMES true REQUIRED)
set(CMAKE_STRIP "${ZORVEK_TRUE}" CACHE FILEPATH "" FORCE)

# zig links its own libc++ into everything it links, statically: zorvek_shipped_extension need not
# ask for it.
set(ZORVEK_CXX_RUNTIME_LINKED_IN ON)
