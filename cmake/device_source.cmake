# Where the devices come from. On Windows the real DirectShow system device enumerator lists them
# (and windows/ tells what the configuration manager knows of them);
# elsewhere our COM stand-in (com/) does, over exactly one backend linked into each program:
#   zorvek_use_device_source(<target> platform)  the machine's own cameras: the Linux backend (linux/)
#   zorvek_use_device_source(<target> scripted)  devices the tests script (tests/scripted/), with the
#                                                stand-in's test build, which tallies references
# Programs take them as object libraries, whose objects always go in whole, whatever the link order.
# Python modules over scripted devices share one library of them, libzorvek_scripted, so that every
# module of a test process walks the same script and shares one tally.
function(zorvek_use_device_source target source)
  if(WIN32)
    if(NOT source STREQUAL "platform")
      message(FATAL_ERROR "On Windows the devices come from DirectShow; there is no ${source} source")
    endif()
    target_link_libraries(${target} PRIVATE zorvek_windows zorvek_usb_instance_id)
    return()
  endif()
  if(source STREQUAL "platform")
    target_link_libraries(${target} PRIVATE zorvek_com zorvek_linux)
  elseif(source STREQUAL "scripted")
    if(NOT TARGET zorvek_scripted)
      message(FATAL_ERROR "the scripted device source is built with ZORVEK_BUILD_TESTS, ZORVEK_BUILD_BENCHMARKS or ZORVEK_FUZZ")
    endif()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "MODULE_LIBRARY")
      target_link_libraries(${target} PRIVATE zorvek_scripted_shared)
    else()
      target_link_libraries(${target} PRIVATE zorvek_com_tallied zorvek_scripted)
    endif()
  else()
    message(FATAL_ERROR "no device source ${source}: platform or scripted")
  endif()
endfunction()
