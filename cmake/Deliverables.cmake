# The two shared libraries applications load. Only the API entry points are
# exported: everything is built hidden, and a linker version script keeps
# any stray symbol (template instances, C++ runtime pieces) local.

# A sanitizer's runtime is linked into the executable, not into shared
# libraries, so their symbols stay undefined there until load.
set(QM_NO_UNDEFINED -Wl,--no-undefined)
if(CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  set(QM_NO_UNDEFINED "")
endif()

# qm_shared_library(<name> <sources...>): a versioned shared library whose
# exports are those of cmake/<name>.map.
function(qm_shared_library name)
  set(map ${PROJECT_SOURCE_DIR}/cmake/${name}.map)
  add_library(${name} SHARED ${ARGN})
  target_link_libraries(${name} PRIVATE qm_warnings)
  target_link_options(${name} PRIVATE -Wl,--version-script=${map} ${QM_NO_UNDEFINED})
  set_target_properties(${name} PROPERTIES
    VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR} LINK_DEPENDS ${map})
endfunction()

# Every object of every subsystem goes in; linking the top layer's archive
# as well only brings the outside dependencies of the layers (hidapi,
# pcsc-lite, ...).
set(QM_READER_OBJECTS "")
foreach(sub IN LISTS QM_PRESENT_SUBSYSTEMS)
  list(APPEND QM_READER_OBJECTS $<TARGET_OBJECTS:${sub}>)
endforeach()
qm_shared_library(QM_Reader ${QM_GEN_DIR}/empty_unit.cpp ${QM_READER_OBJECTS})
target_link_libraries(QM_Reader PRIVATE core_api)

# The utility library, and the digest library it loads by name at run time
# from its own folder.
qm_shared_library(tool ${QM_GEN_DIR}/empty_unit.cpp $<TARGET_OBJECTS:tool_lib>)
target_link_libraries(tool PRIVATE tool_lib)
set_target_properties(tool PROPERTIES BUILD_RPATH "$ORIGIN" INSTALL_RPATH "$ORIGIN")
file(GLOB QM_QOLBIC_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tool/qolbic/*.cpp)
qm_shared_library(qolbic ${QM_QOLBIC_SOURCES})
target_link_libraries(qolbic PRIVATE platform)
# A plugin loaded by its plain file name "libqolbic.so": one file, no
# version links, nothing links against it.
set_property(TARGET qolbic PROPERTY VERSION)
set_property(TARGET qolbic PROPERTY SOVERSION)

install(TARGETS QM_Reader tool qolbic
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
