# The checked-in public headers and version script are what the generator
# makes from the device-operation table today.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(core_check_dir ${CMAKE_CURRENT_BINARY_DIR}/core_api_generated_check)
add_test(NAME CoreExports.HeaderAndVersionScriptFollowTable
  COMMAND sh -c "mkdir -p \"$3\" && \"$0\" \"$1/core_api/gen_core_api.py\" --table \"$1/connection/device_ops.txt\" --header \"$3/kx_core.h\" --map \"$3/QM_Reader.map\" --product-header \"$3/qm_reader.h\" && cmp \"$3/kx_core.h\" \"$1/include/kx_core.h\" && cmp \"$3/QM_Reader.map\" \"$1/cmake/QM_Reader.map\" && cmp \"$3/qm_reader.h\" \"$1/include/qm_reader.h\""
          $<TARGET_FILE:Python3::Interpreter> ${PROJECT_SOURCE_DIR} unused ${core_check_dir})
set_tests_properties(CoreExports.HeaderAndVersionScriptFollowTable PROPERTIES LABELS core_api)

# The export test loads the built library.
if(TARGET core_api_core_exports_test)
  add_dependencies(core_api_core_exports_test QM_Reader)
  target_compile_definitions(core_api_core_exports_test PRIVATE
    QM_READER_LIBRARY="$<TARGET_FILE:QM_Reader>")
endif()

# A custom tag that changes nothing where it stands is refused: a trace of
# its own on a slot without the argument it governs, a return form on a
# 16-bit result, and a second name for an unknown slot or one whose
# arguments differ.
add_test(NAME CoreExports.GeneratorRefusesIneffectiveTags
  COMMAND sh -c "mkdir -p \"$2\" && for edit in 's/^slot 4 getname /&custom=text_by_charset /' 's/^slot 4 getname /&custom=result_text /' 's/^slot 4 getname /&custom=no_such_tag /' 's/^slot 4 getname /&same=no_such_op /' 's/^slot 4 getname /&same=init_name /'; do sed \"$edit\" \"$1/connection/device_ops.txt\" > \"$2/device_ops.txt\" && ! \"$0\" \"$1/core_api/gen_core_api.py\" --table \"$2/device_ops.txt\" --header \"$2/kx_core.h\" 2>/dev/null || exit 1; done"
          $<TARGET_FILE:Python3::Interpreter> ${PROJECT_SOURCE_DIR} ${core_check_dir}/tags)
set_tests_properties(CoreExports.GeneratorRefusesIneffectiveTags PROPERTIES LABELS core_api)

# The fake outside libraries, plain C so that they unload, each variant by
# its library's file name in a folder of its own under outside/. Tests link
# them into a library directory of their own; only the bare-name fallback's
# entry puts one on LD_LIBRARY_PATH.
function(qm_outside_fake folder source file)
  add_library(qm_fake_${folder} SHARED ${CMAKE_CURRENT_SOURCE_DIR}/core_api/fixture/${source}.c)
  set_target_properties(qm_fake_${folder} PROPERTIES OUTPUT_NAME ${file}
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/outside/${folder})
  target_include_directories(qm_fake_${folder} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(qm_fake_${folder} PRIVATE qm_warnings)
  target_compile_definitions(qm_fake_${folder} PRIVATE ${ARGN})
endfunction()
qm_outside_fake(pboc bank_library kx_pboc)
qm_outside_fake(pboc_no_account bank_library kx_pboc QM_BANK_NO_ACCOUNT)
qm_outside_fake(image image_library kxrf32idcardimagebuild)
qm_outside_fake(cv camera_library kxrf32cv)
qm_outside_fake(cv_no_capture camera_library kxrf32cv QM_CV_NO_CAPTURE)
