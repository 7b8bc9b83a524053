# Where the devices come from. On Windows the real DirectShow system device enumerator lists them;
# elsewhere the COM stand-in does, from exactly one device source linked into each program:
#   zorvek_use_device_source(<target> platform)  the machine's own cameras (the shipped module)
#   zorvek_use_device_source(<target> scripted)  devices the tests script
function(zorvek_use_device_source target source)
  if(WIN32)
    if(NOT source STREQUAL "platform")
      message(FATAL_ERROR "On Windows the devices come from DirectShow; there is no ${source} source")
    endif()
    return()
  endif()
  target_link_libraries(${target} PRIVATE zorvek_source_${source})
endfunction()
