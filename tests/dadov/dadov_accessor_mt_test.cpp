#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "dadov_AudioComponentDLLRepository.h"
#include "dadov_Config.h"
#include "dadov_ManagerAccessor.h"
#include "dadov_MeterPool.h"
#include "dadov_TestSupport.h"
#include "logic_TestSupport.h"
#include "parray_ArrayAccessorForServer.h"
#include "pdb_ParameterDBCollection.h"

using namespace DADOV;

// The plug-in reads meter sets 2 and 3 through its manager accessor while the sync thread writes them through
// the pool: TSan sees no race (the reads take the pool's lock).
TEST(ManagerAccessor, MeterReadsTakeThePoolsLockAgainstTheSyncThread)
{
    logictest::startOsLayer();
    dadovtest::createDatabases(11);
    dadovtest::PluginFolder folder;
    folder.add("TestMixer_2.dll");
    ASSERT_EQ(AudioComponentDLLRepository::getInstance().initialize(folder.path().c_str()), 0);
    ASSERT_EQ(addPDBComponent(3, "TestMixer", 2, 4, 1, 0), 0);

    std::vector<u32> level(8, 0);
    level[0] = 6;          // f32, bytes in sets 2 and 3
    level[1] = 0x10000001; // numX
    std::memcpy(&level[4], "level", 5);
    MeterPool pool;
    ASSERT_EQ(pool.initialize(level.data(), 1, 3, 4, 1, 255, 1000), 0);
    VEXADManagerAccessor* accessor = createManagerAccessor(3, 4, 1, nullptr, &pool);
    ASSERT_NE(accessor, nullptr);

    std::atomic<bool> done{false};
    std::atomic<u32> writes{0};
    std::atomic<int> failures{0};
    std::thread sync([&] {
        for (u32 round = 0; !done.load(); ++round) {
            const u8 bytes[4] = {10, 20, 10, 20};
            if (pool.writeMeterBytes(2 + round % 2, 0, round % 2, bytes + round % 2, 3) != DADOV_OK) {
                ++failures;
            }
            ++writes;
        }
    });
    // The reads overlap the writes only once both sets were written; a fast reader finishes before then.
    while (writes.load() < 2) {
        std::this_thread::yield();
    }
    u32 sum = 0;
    for (int round = 0; round < 20000; ++round) {
        const u32 x = static_cast<u32>(round) % 4;
        sum += accessor->getMeterByte2(0, x, 0, 0) + accessor->getMeterByte3(0, x, 0, 0);
    }
    done = true;
    sync.join();
    EXPECT_GT(sum, 0u); // the reads saw the writes
    EXPECT_EQ(failures.load(), 0);
    destroyManagerAccessor(accessor);
    PDB::ParameterDBCollection::getInstance(10).clear();
    AudioComponentDLLRepository::getInstance().unloadAll();
}
