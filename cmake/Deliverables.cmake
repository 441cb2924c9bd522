# The two shared libraries applications load. Only the API entry points are
# exported: everything is built hidden, and a linker version script keeps
# any stray symbol (template instances, C++ runtime pieces) local.

# Every object of every subsystem goes in; linking the archives as well only
# brings their outside dependencies (hidapi, pcsc-lite, ...).
# A sanitizer's runtime is linked into the executable, not into shared
# libraries, so their symbols stay undefined there until load.
set(QM_NO_UNDEFINED -Wl,--no-undefined)
if(CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  set(QM_NO_UNDEFINED "")
endif()

set(QM_READER_OBJECTS "")
foreach(sub IN LISTS QM_PRESENT_SUBSYSTEMS)
  list(APPEND QM_READER_OBJECTS $<TARGET_OBJECTS:${sub}>)
endforeach()
add_library(QM_Reader SHARED ${QM_GEN_DIR}/empty_unit.cpp ${QM_READER_OBJECTS})
target_link_libraries(QM_Reader PRIVATE qm_internals qm_warnings)
target_link_options(QM_Reader PRIVATE
  -Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/QM_Reader.map ${QM_NO_UNDEFINED})
set_target_properties(QM_Reader PROPERTIES
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
  LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/QM_Reader.map)

set(QM_TOOL_PARTS "")
if(TARGET tool_parts)
  list(APPEND QM_TOOL_PARTS tool_parts)
endif()
add_library(tool SHARED ${QM_GEN_DIR}/empty_unit.cpp)
if(QM_TOOL_PARTS)
  target_sources(tool PRIVATE $<TARGET_OBJECTS:tool_parts>)
  target_link_libraries(tool PRIVATE tool_parts)
endif()
target_link_libraries(tool PRIVATE qm_warnings)
target_link_options(tool PRIVATE
  -Wl,--version-script=${PROJECT_SOURCE_DIR}/cmake/tool.map ${QM_NO_UNDEFINED})
set_target_properties(tool PROPERTIES
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
  LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/tool.map)

install(TARGETS QM_Reader tool
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/qm_reader
  FILES_MATCHING PATTERN "*.h")
# Relocatable: the prefix is found from the .pc file's own folder.
file(RELATIVE_PATH QM_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
foreach(pc IN ITEMS QM_Reader tool)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/${pc}.pc.in ${QM_GEN_DIR}/${pc}.pc @ONLY)
  install(FILES ${QM_GEN_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
