// Shared helpers of the TMS suites.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

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

// Takes fresh OS-layer semaphores until the target id is handed out; every id taken, the target last, goes into
// taken. False when the layer ran out first.
inline bool takeSemaphoresUpTo(u16 target, std::vector<u16>& taken)
{
    ossupport::SemaphoreRecord record;
    u16 id = 0;
    while (id != target && ossupport::createSemaphore(&id, &record) == 0) {
        taken.push_back(id);
    }
    return id == target;
}

inline void deleteSemaphores(const std::vector<u16>& taken)
{
    for (u16 each : taken) {
        ossupport::deleteSemaphore(each);
    }
}

} // namespace tmstest
