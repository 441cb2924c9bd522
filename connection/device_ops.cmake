# The device-operation table: ReaderDevice, its defaults, the slot list and a
# test helper are generated from connection/device_ops.txt at build time.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(QM_DEVICE_OPS_TABLE ${CMAKE_CURRENT_SOURCE_DIR}/device_ops.txt)
set(QM_DEVICE_OPS_GENERATOR ${CMAKE_CURRENT_SOURCE_DIR}/gen_device_ops.py)
set(QM_DEVICE_OPS_DIR ${CMAKE_CURRENT_BINARY_DIR}/generated)
set(QM_DEVICE_OPS_OUTPUTS
  ${QM_DEVICE_OPS_DIR}/reader_device_class.h
  ${QM_DEVICE_OPS_DIR}/reader_device_defaults.cpp
  ${QM_DEVICE_OPS_DIR}/device_slot_info.h
  ${QM_DEVICE_OPS_DIR}/device_slot_calls.h)

add_custom_command(
  OUTPUT ${QM_DEVICE_OPS_OUTPUTS}
  COMMAND Python3::Interpreter ${QM_DEVICE_OPS_GENERATOR}
          --table ${QM_DEVICE_OPS_TABLE} --out-dir ${QM_DEVICE_OPS_DIR}
  DEPENDS ${QM_DEVICE_OPS_TABLE} ${QM_DEVICE_OPS_GENERATOR}
  COMMENT "Generating the device-operation table"
  VERBATIM)
add_custom_target(device_ops_generated DEPENDS ${QM_DEVICE_OPS_OUTPUTS})

target_sources(connection PRIVATE ${QM_DEVICE_OPS_OUTPUTS})
# Anything linking the connection layer may include the generated headers.
add_dependencies(connection device_ops_generated)
