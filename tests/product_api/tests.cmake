# The outside-library bridges over the fakes of tests/core_api/fixture.
if(TARGET product_api_outside_bridges_test)
  add_dependencies(product_api_outside_bridges_test qm_fake_pboc qm_fake_pboc_no_account
    qm_fake_image qm_fake_cv qm_fake_cv_no_capture)
  target_compile_definitions(product_api_outside_bridges_test PRIVATE
    QM_OUTSIDE_DIR="${CMAKE_CURRENT_BINARY_DIR}/outside")
  # The bare name found through the loader's search path.
  add_test(NAME BankCardLibrary.FoundByBareName
    COMMAND ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${CMAKE_CURRENT_BINARY_DIR}/outside/pboc
            $<TARGET_FILE:product_api_outside_bridges_test>
            --gtest_filter=BankCardLibrary.DISABLED_BareNameFallback --gtest_also_run_disabled_tests)
  set_tests_properties(BankCardLibrary.FoundByBareName PROPERTIES LABELS product_api)
endif()
