vd_add_fuzz(dbgc lineEditor)

# The replay build of the target has no main of its own: take GoogleTest's.
if(TARGET fuzz_dbgc_lineEditor AND NOT VD_SANITIZE STREQUAL "fuzz")
    target_link_libraries(fuzz_dbgc_lineEditor PRIVATE GTest::gtest_main)
endif()
