// Shared helpers of the TMS suites.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "os_Tasks.h"

namespace tmstest {

// Brings the OS layer up for one test and down afterwards.
class OsLayerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(ossupport::initialize(), 0u); }
    void TearDown() override { ossupport::shutdown(); }
};

// Polls condition until it holds or timeoutMs passes; returns whether it held.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000);

} // namespace tmstest
