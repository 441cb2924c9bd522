# The demo's tests link its core with the reader library's static targets
# and the driver stand-in.
foreach(exe IN ITEMS demo_text_filter_test demo_serialport_test)
  if(TARGET ${exe})
    target_link_libraries(${exe} PRIVATE demo_core)
  endif()
endforeach()
