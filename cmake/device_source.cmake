# Where the devices come from. On Windows the real DirectShow system device enumerator lists them;
# elsewhere our COM stand-in (com/) does, over exactly one backend linked into each program:
#   zorvek_use_device_source(<target> platform)  the machine's own cameras: the Linux backend (linux/)
#   zorvek_use_device_source(<target> scripted)  devices the tests script (tests/scripted/), with the
#                                                stand-in's test build, which tallies references
# Both are object libraries, so that their objects always go in whole, whatever the link order.
function(zorvek_use_device_source target source)
  if(WIN32)
    if(NOT source STREQUAL "platform")
      message(FATAL_ERROR "On Windows the devices come from DirectShow; there is no ${source} source")
    endif()
    return()
  endif()
  if(source STREQUAL "platform")
    target_link_libraries(${target} PRIVATE zorvek_com zorvek_linux)
  elseif(source STREQUAL "scripted")
    if(NOT TARGET zorvek_scripted)
      message(FATAL_ERROR "the scripted device source is built with ZORVEK_BUILD_TESTS, ZORVEK_BUILD_BENCHMARKS or ZORVEK_FUZZ")
    endif()
    target_link_libraries(${target} PRIVATE zorvek_com_tallied zorvek_scripted)
  else()
    message(FATAL_ERROR "no device source ${source}: platform or scripted")
  endif()
endfunction()
