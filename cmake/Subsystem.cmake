# qm_add_subsystem(<name> [LIBS ...]): a static library from every source in
# the calling folder. New files join on the next configure (CONFIGURE_DEPENDS).
set(QM_GEN_DIR ${PROJECT_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${QM_GEN_DIR})
file(WRITE ${QM_GEN_DIR}/empty_unit.cpp "// keeps a library with no sources of its own valid\n")

function(qm_add_subsystem name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS
    ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  add_library(${name} STATIC ${srcs} ${QM_GEN_DIR}/empty_unit.cpp)
  target_include_directories(${name} PUBLIC
    ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
  target_link_libraries(${name} PUBLIC Threads::Threads ${CMAKE_DL_LIBS} ${ARG_LIBS}
                        PRIVATE qm_warnings)
endfunction()
