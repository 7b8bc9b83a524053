# Free-threaded CPython (3.13t and later, built with Py_GIL_DISABLED) is not supported yet:
# zorvekcam's core is built for the stable ABI of CPython 3.11, which no free-threaded interpreter
# offers, and Zorvek's modules rely on the GIL. A build for one would fail late and obscurely
# (FindPython finding no stable ABI, or the compiler deep in Python.h), so configuring stops first,
# saying so. pip's builds from the sdist stop earlier still, in scikit-build-core (pyproject.toml);
# this covers CMake run by hand, for the interpreter it names (Python_EXECUTABLE; the test command
# names its own). ZORVEK_PYTHON_GIL_DISABLED, where set (0 or 1), stands for what the interpreter's
# sysconfig would say. As a script it makes the same check:
#   cmake -DPython_EXECUTABLE=PYTHON -P cmake/free_threaded.cmake
function(zorvek_refuse_free_threaded)
  if(DEFINED ZORVEK_PYTHON_GIL_DISABLED)
    set(disabled "${ZORVEK_PYTHON_GIL_DISABLED}")
  elseif(Python_EXECUTABLE)
    execute_process(
      COMMAND "${Python_EXECUTABLE}" -c "import sysconfig; print(sysconfig.get_config_var('Py_GIL_DISABLED') or 0)"
      RESULT_VARIABLE status OUTPUT_VARIABLE disabled ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    # An interpreter that cannot answer is left to FindPython, which says what is wrong with it.
    if(NOT status EQUAL 0)
      return()
    endif()
  else()
    return()
  endif()
  if(disabled)
    message(FATAL_ERROR
      "zorvek: free-threaded CPython (built with Py_GIL_DISABLED) is not supported yet: "
      "${Python_EXECUTABLE} is one. Build with a CPython that has the GIL (python3.X, not python3.Xt).")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  zorvek_refuse_free_threaded()
endif()
