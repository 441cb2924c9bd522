# The stand-in photo decoder, built three times, each in a folder of its
# own: as libwltrs_getbmp.so, as libWltRS.so alone (the fallback name), and
# as libwltrs_getbmp.so without GetBmp. Plain C so that it unloads. Never
# linked and never on a RUNPATH or LD_LIBRARY_PATH: the decoder's bare-name
# tries must find nothing, or the "no decoder" cases would pass by luck.
set(QM_PHOTO_DECODERS
  "qm_photo_decoder_main wltrs_getbmp decoder_main wltrs_getbmp"
  "qm_photo_decoder_fallback WltRS decoder_fallback WltRS"
  "qm_photo_decoder_no_entry wltrs_getbmp decoder_no_entry no_entry")
foreach(spec IN LISTS QM_PHOTO_DECODERS)
  separate_arguments(spec)
  list(GET spec 0 target)
  list(GET spec 1 output)
  list(GET spec 2 folder)
  list(GET spec 3 variant)
  add_library(${target} SHARED ${CMAKE_CURRENT_SOURCE_DIR}/family_r42/fixture/photo_decoder.c)
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${output}
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/${folder})
  target_compile_definitions(${target} PRIVATE QM_DECODER_VARIANT="${variant}")
  target_link_libraries(${target} PRIVATE qm_warnings)
endforeach()
target_compile_definitions(qm_photo_decoder_no_entry PRIVATE QM_DECODER_NO_ENTRY)

if(TARGET family_r42_idcard_photo_test)
  add_dependencies(family_r42_idcard_photo_test
    qm_photo_decoder_main qm_photo_decoder_fallback qm_photo_decoder_no_entry)
  target_compile_definitions(family_r42_idcard_photo_test PRIVATE
    QM_DECODER_MAIN_DIR="$<TARGET_FILE_DIR:qm_photo_decoder_main>"
    QM_DECODER_FALLBACK_DIR="$<TARGET_FILE_DIR:qm_photo_decoder_fallback>"
    QM_DECODER_NO_ENTRY_DIR="$<TARGET_FILE_DIR:qm_photo_decoder_no_entry>")
endif()
