vd_add_fuzz(vsock address)

# The replay build of the target has no main of its own: take GoogleTest's.
if(TARGET fuzz_vsock_address AND NOT VD_SANITIZE STREQUAL "fuzz")
    target_link_libraries(fuzz_vsock_address PRIVATE GTest::gtest_main)
endif()
