# pybind11 of the 2.11 series, and no other: the modules share registered classes through its
# internals version 4 (module/held_records.cpp reads them), which later series changed. A newer
# pybind11 found first (the interpreter's own site-packages often holds one) is passed over, and
# where none of the 2.11 series is found, configuring stops and says what to install.
macro(zorvek_find_pybind11)
  if(NOT TARGET pybind11::module)
    find_package(pybind11 2.11...<2.12 CONFIG)
    if(NOT pybind11_FOUND)
      message(FATAL_ERROR
        "Zorvek needs pybind11 2.11.x (pybind11 3 and later changed the internals that its modules "
        "share), and found none. Install it with\n"
        "  python3.11 -m pip install 'pybind11>=2.11,<2.12'\n"
        "and point CMake at it with -Dpybind11_DIR=$(python3.11 -m pybind11 --cmakedir). "
        "(`pip install .` fetches it itself.)")
    endif()
  endif()
endmacro()

# Every extension module that a wheel ships goes through this function, which makes it
# - export its PyInit_ function and nothing else: the discovery code, the COM stand-in's functions
#   (CoCreateInstance, SysFreeString...) and the C++ runtime's would otherwise be visible to, and
#   could collide with, every other library in the process;
# - on Linux, carry its own copy of the C++ runtime (libstdc++) instead of needing the system's: a
#   manylinux wheel may only need libraries that every such system has, in versions no newer than its
#   policy allows, and the libstdc++ of the compilers we build with is newer than that. The version
#   script keeps the copy's symbols local, so it cannot stand in for the process's own. Only the
#   parts the module uses are kept (--gc-sections): the rest would bind it to recent C library
#   functions (arc4random, glibc 2.36) for nothing. libgcc_s stays shared: every manylinux system
#   has it, and its static form binds to _dl_find_object (glibc 2.35). Built with zig
#   (cmake/zig.cmake), a module carries zig's libc++ the same way, and needs no glibc symbol newer
#   than the version zig was asked to target.
#   Whatever else a module uses at run time is loaded with dlopen, never linked.
function(zorvek_shipped_extension target)
  if(NOT WIN32 AND NOT APPLE)  # a DLL exports only what is marked for export anyway
    target_link_options(${target} PRIVATE "LINKER:--version-script=${PROJECT_SOURCE_DIR}/cmake/extension.map")
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/extension.map)
  endif()
  # Sanitizer and fuzzing builds are never shipped, and their runtimes expect the shared C++ runtime.
  if(ZORVEK_STATIC_CXX_RUNTIME AND CMAKE_SYSTEM_NAME STREQUAL "Linux" AND NOT ZORVEK_SANITIZE AND NOT ZORVEK_FUZZ
     AND CMAKE_CXX_COMPILER_ID MATCHES "^(GNU|Clang)$")
    # zig's toolchain (cmake/zig.cmake) links its libc++ in by itself, and has no -static-libstdc++.
    if(NOT ZORVEK_CXX_RUNTIME_LINKED_IN)
      target_link_options(${target} PRIVATE -static-libstdc++)
    endif()
    target_link_options(${target} PRIVATE "LINKER:--gc-sections")
  endif()
endfunction()
