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
target_link_libraries(QM_Reader PRIVATE product_api)
# The product forwarders call the core's exports inside the library, never
# an application's own function of the same name.
target_link_options(QM_Reader PRIVATE -Wl,-Bsymbolic-functions)

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

# Installed: the libraries in the GNUInstallDirs folders, the public headers
# in include/qm_reader, a pkg-config file and a CMake package for each
# library, and the udev rule for the USB readers. Both the pkg-config files
# and the CMake package find the prefix from their own folder, so an
# installed tree can be moved.
install(TARGETS QM_Reader tool EXPORT QM_ReaderTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/qm_reader)
install(TARGETS qolbic LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/qm_reader
  FILES_MATCHING PATTERN "*.h")
file(RELATIVE_PATH QM_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
foreach(pc IN ITEMS QM_Reader tool)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/${pc}.pc.in ${QM_GEN_DIR}/${pc}.pc @ONLY)
  install(FILES ${QM_GEN_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()

# find_package(QM_Reader) gives QM_Reader::QM_Reader and QM_Reader::tool.
include(CMakePackageConfigHelpers)
set(QM_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/QM_Reader)
install(EXPORT QM_ReaderTargets NAMESPACE QM_Reader:: DESTINATION ${QM_CMAKE_PACKAGE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/QM_ReaderConfig.cmake.in
  ${QM_GEN_DIR}/QM_ReaderConfig.cmake INSTALL_DESTINATION ${QM_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(${QM_GEN_DIR}/QM_ReaderConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${QM_GEN_DIR}/QM_ReaderConfig.cmake ${QM_GEN_DIR}/QM_ReaderConfigVersion.cmake
  DESTINATION ${QM_CMAKE_PACKAGE_DIR})

# The udev rule that gives the logged-in user the hidraw nodes of the USB
# readers, made from the profile table by a small host program. It goes to
# lib/udev/rules.d under the prefix, where udev finds it for the prefixes
# /usr/local and /usr; with any other prefix the user copies it to
# /etc/udev/rules.d (README): nothing here copies it.
add_executable(qm_gen_udev_rules ${PROJECT_SOURCE_DIR}/cmake/gen_udev_rules.cpp)
target_link_libraries(qm_gen_udev_rules PRIVATE connection qm_warnings)
set(QM_UDEV_RULES ${QM_GEN_DIR}/70-qm-reader.rules)
add_custom_command(OUTPUT ${QM_UDEV_RULES}
  COMMAND qm_gen_udev_rules ${QM_UDEV_RULES}
  DEPENDS qm_gen_udev_rules
  COMMENT "Generating the udev rule for the USB readers"
  VERBATIM)
add_custom_target(qm_udev_rules ALL DEPENDS ${QM_UDEV_RULES})
install(FILES ${QM_UDEV_RULES} DESTINATION lib/udev/rules.d)
