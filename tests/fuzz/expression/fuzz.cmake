vd_add_fuzz(expression textToValue)

# The replay build of a target has no main of its own: take GoogleTest's.
if(TARGET fuzz_expression_textToValue AND NOT VD_SANITIZE STREQUAL "fuzz")
    target_link_libraries(fuzz_expression_textToValue PRIVATE GTest::gtest_main)
endif()
