# The export test loads the built libtool.so.
if(TARGET tool_tool_exports_test)
  add_dependencies(tool_tool_exports_test tool)
  target_compile_definitions(tool_tool_exports_test PRIVATE
    TOOL_LIBRARY="$<TARGET_FILE:tool>")
endif()
