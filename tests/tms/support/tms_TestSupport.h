// Shared helpers of the TMS suites.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "os_Tasks.h"
#include "vdtest_Support.h"

namespace tmstest {

// Brings the OS layer up for one test and down afterwards.
class OsLayerTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(ossupport::initialize(), 0u); }
    void TearDown() override { ossupport::shutdown(); }
};

using vdtest::waitUntil;

} // namespace tmstest
