#include <gtest/gtest.h>

#include <thread>

#include "klib_Print.h"

namespace {

// The print location belongs to the thread that set it.
TEST(DebugPrint, LocationIsPerThread)
{
    klib_setPrintLocation("plain", 4);
    std::thread other([] { klib_setPrintLocation("/elsewhere/y.cpp", 99); });
    other.join();
    const char* file = nullptr;
    u32 line = 0;
    klib_getPrintLocation(&file, &line);
    EXPECT_STREQ("plain", file);
    EXPECT_EQ(4u, line);
}

} // namespace
