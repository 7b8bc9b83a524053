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

# Makes a shipped extension module export its PyInit_ function and nothing else: the discovery
# code, the COM stand-in's functions (CoCreateInstance, SysFreeString...) and the C++ runtime's
# would otherwise be visible to, and could collide with, every other library in the process.
function(zorvek_export_init_only target)
  if(NOT WIN32 AND NOT APPLE)  # a DLL exports only what is marked for export anyway
    target_link_options(${target} PRIVATE "LINKER:--version-script=${PROJECT_SOURCE_DIR}/cmake/extension.map")
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/extension.map)
  endif()
endfunction()
