# The checked-in public header and version script are what the generator
# makes from the device-operation table today.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(core_check_dir ${CMAKE_CURRENT_BINARY_DIR}/core_api_generated_check)
add_test(NAME CoreExports.HeaderAndVersionScriptFollowTable
  COMMAND sh -c "mkdir -p \"$3\" && \"$0\" \"$1/core_api/gen_core_api.py\" --table \"$1/connection/device_ops.txt\" --header \"$3/kx_core.h\" --map \"$3/QM_Reader.map\" && cmp \"$3/kx_core.h\" \"$1/include/kx_core.h\" && cmp \"$3/QM_Reader.map\" \"$1/cmake/QM_Reader.map\""
          $<TARGET_FILE:Python3::Interpreter> ${PROJECT_SOURCE_DIR} unused ${core_check_dir})
set_tests_properties(CoreExports.HeaderAndVersionScriptFollowTable PROPERTIES LABELS core_api)

# The export test loads the built library.
if(TARGET core_api_core_exports_test)
  add_dependencies(core_api_core_exports_test QM_Reader)
  target_compile_definitions(core_api_core_exports_test PRIVATE
    QM_READER_LIBRARY="$<TARGET_FILE:QM_Reader>")
endif()

# A custom tag that changes nothing where it stands is refused: a trace of
# its own on a slot without the argument it governs, and a return form on a
# 16-bit result.
add_test(NAME CoreExports.GeneratorRefusesIneffectiveTags
  COMMAND sh -c "mkdir -p \"$2\" && for edit in 's/^slot 4 getname$/& custom=text_by_charset/' 's/^slot 4 getname$/& custom=result_text/' 's/^slot 4 getname$/& custom=no_such_tag/'; do sed \"$edit\" \"$1/connection/device_ops.txt\" > \"$2/device_ops.txt\" && ! \"$0\" \"$1/core_api/gen_core_api.py\" --table \"$2/device_ops.txt\" --header \"$2/kx_core.h\" 2>/dev/null || exit 1; done"
          $<TARGET_FILE:Python3::Interpreter> ${PROJECT_SOURCE_DIR} ${core_check_dir}/tags)
set_tests_properties(CoreExports.GeneratorRefusesIneffectiveTags PROPERTIES LABELS core_api)
