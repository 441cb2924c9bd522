# A plain C shared library for the loader tests (a C++ one would carry
# unique symbols and never unload).
add_library(qm_platform_fixture SHARED ${CMAKE_CURRENT_SOURCE_DIR}/platform/fixture/fixture_library.c)
set_target_properties(qm_platform_fixture PROPERTIES
  OUTPUT_NAME QmFixture
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/platform_fixture)
target_link_libraries(qm_platform_fixture PRIVATE qm_warnings)
if(TARGET platform_dynamic_library_test)
  add_dependencies(platform_dynamic_library_test qm_platform_fixture)
  target_compile_definitions(platform_dynamic_library_test PRIVATE
    QM_FIXTURE_DIR="$<TARGET_FILE_DIR:qm_platform_fixture>")
endif()
