# Oracles of the utility-library tests: qrcodegen for QR symbols, zbarimg
# for pictures, and small digest libraries for the device identifier.
pkg_check_modules(QRCODEGEN REQUIRED IMPORTED_TARGET qrcodegencpp)
find_program(QM_ZBARIMG zbarimg REQUIRED)

foreach(exe IN ITEMS tool_qr_encoder_test tool_bitmap_test tool_device_id_test)
  if(TARGET ${exe})
    target_compile_definitions(${exe} PRIVATE QM_ZBARIMG="${QM_ZBARIMG}")
  endif()
endforeach()
if(TARGET tool_qr_encoder_test)
  target_link_libraries(tool_qr_encoder_test PRIVATE PkgConfig::QRCODEGEN)
endif()

# Digest libraries that misbehave one way each, plain C so that they unload.
set(QM_DIGEST_FIXTURES no_entry short_text unterminated non_hex lower_case)
foreach(kind IN LISTS QM_DIGEST_FIXTURES)
  add_library(qm_digest_${kind} SHARED ${CMAKE_CURRENT_SOURCE_DIR}/tool/fixture/digest_fixture.c)
  set_target_properties(qm_digest_${kind} PROPERTIES
    OUTPUT_NAME digest_${kind}
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/tool_fixture)
  string(TOUPPER ${kind} kind_upper)
  target_compile_definitions(qm_digest_${kind} PRIVATE DIGEST_${kind_upper})
  target_link_libraries(qm_digest_${kind} PRIVATE qm_warnings)
  if(TARGET tool_device_id_test)
    add_dependencies(tool_device_id_test qm_digest_${kind})
  endif()
endforeach()

# The tests load the built libraries.
foreach(exe IN ITEMS tool_device_id_test tool_md5_test)
  if(TARGET ${exe})
    add_dependencies(${exe} qolbic tool)
    target_compile_definitions(${exe} PRIVATE
      QM_DIGEST_FIXTURE_DIR="${CMAKE_CURRENT_BINARY_DIR}/tool_fixture"
      QM_QOLBIC_LIBRARY="$<TARGET_FILE:qolbic>"
      QM_TOOL_LIBRARY="$<TARGET_FILE:tool>")
  endif()
endforeach()

# The export test loads the built libtool.so.
if(TARGET tool_tool_exports_test)
  add_dependencies(tool_tool_exports_test tool)
  target_compile_definitions(tool_tool_exports_test PRIVATE
    TOOL_LIBRARY="$<TARGET_FILE:tool>")
endif()
