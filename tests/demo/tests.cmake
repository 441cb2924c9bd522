# The demo's tests link its core with the reader library's static targets
# (qm_internals) and the driver stand-in; the simulated reader's library
# directory gets the photo decoder and the bank-card library.
set(QM_DEMO_LIBRARIES QM_DEMO_PHOTO_DECODER="$<TARGET_FILE:qm_photo_decoder_main>"
                      QM_DEMO_BANK_LIBRARY="$<TARGET_FILE:qm_fake_pboc>")
foreach(exe IN ITEMS demo_text_filter_test demo_serialport_test demo_card_tests_test)
  target_link_libraries(${exe} PRIVATE demo_core SSCardDriver)
endforeach()
add_dependencies(demo_card_tests_test qm_photo_decoder_main qm_fake_pboc)
target_compile_definitions(demo_card_tests_test PRIVATE ${QM_DEMO_LIBRARIES})

# The window, in this process and as the program, each under an X server of
# its own (one at a time: xvfb-run -a can race for a display number). GTK
# keeps memory to the end, so LeakSanitizer is off for these two; they are
# not run under ThreadSanitizer, which GTK's own threads would swamp.
if(NOT CMAKE_CXX_FLAGS MATCHES "sanitize=thread")
  find_program(QM_XVFB_RUN xvfb-run REQUIRED)
  add_executable(demo_dialog_gtk ${CMAKE_CURRENT_SOURCE_DIR}/demo/dialog_gtk_check.cpp
                                 ${PROJECT_SOURCE_DIR}/demo/trelviewdlg.cpp)
  target_link_libraries(demo_dialog_gtk PRIVATE demo_core SSCardDriver qm_sim qm_internals
                                                PkgConfig::GTK3 GTest::gtest qm_warnings)
  add_dependencies(demo_dialog_gtk qm_photo_decoder_main qm_fake_pboc)
  target_compile_definitions(demo_dialog_gtk PRIVATE ${QM_DEMO_LIBRARIES}
    QM_TEST_BINARY_DIR="${PROJECT_BINARY_DIR}" QM_TEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  add_test(NAME DemoDialogGtk COMMAND ${QM_XVFB_RUN} -a $<TARGET_FILE:demo_dialog_gtk>)
  add_test(NAME DemoTrelviewSmoke
    COMMAND ${QM_XVFB_RUN} -a ${CMAKE_CURRENT_SOURCE_DIR}/demo/trelview_smoke.sh
            $<TARGET_FILE:Trelview>)
  set_tests_properties(DemoDialogGtk DemoTrelviewSmoke PROPERTIES
    LABELS demo TIMEOUT 120 RESOURCE_LOCK xvfb
    ENVIRONMENT "GDK_BACKEND=x11;NO_AT_BRIDGE=1;ASAN_OPTIONS=detect_leaks=0")
endif()
