// Backups of shared databases while other threads write values and add components.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "backup_TestUtil.h"
#include "pdb_BackupFile.h"

using namespace PDB;
using namespace backup_test;

TEST(BackupThreads, ExportWhileOthersWriteAndAdd)
{
    registerKeep();
    ScratchDir dir;
    IParameterDB& profile = makeShared(0, "Profile");
    IParameterDB& device = makeShared(1, "DeviceSetup");
    for (u32 uid = 1; uid <= 8; ++uid) {
        ASSERT_EQ(profile.addComponent(uid, "Keep", 1, 0, 0, 0), 0);
    }
    ASSERT_EQ(device.addComponent(0x100, "Keep", 1, 0, 0, 0), 0);

    std::atomic<bool> stop{false};
    std::atomic<u32> writes{0};
    std::atomic<u32> adds{0};
    std::thread writer([&] {
        u32 n = 0;
        while (!stop.load()) {
            const u32 count = profile.getComponentSlotCount();
            profile.setValueUInt(n % count, 0, n % 4, 0, n % 100000, 0);
            profile.setValueString(n % count, 2, n % 2, 0, (n & 1) != 0 ? "odd" : "even", 0);
            device.setValueInt(0, 1, n % 3, 0, static_cast<i32>(n % 1000), 0);
            writes.fetch_add(1);
            ++n;
        }
    });
    std::thread adder([&] {
        for (u32 uid = 0x200; uid < 0x200 + 64 && !stop.load(); ++uid) {
            if (profile.addComponent(uid, "Keep", 1, 0, 0, 0) == 0) {
                adds.fetch_add(1);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });

    BackupFile backup;
    ASSERT_EQ(backup.setup("ZethImage", 0, {{&profile, 0}, {&device, 0}}, dir.path().c_str()), 0);
    int exported = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(600);
    while (std::chrono::steady_clock::now() < end || exported < 5) {
        ASSERT_EQ(backup.exportToFile("b.bup"), 0);
        // Reading back into the databases that are being changed is also consistent.
        ASSERT_EQ(backup.importFromFile("b.bup"), 0);
        ++exported;
    }
    stop.store(true);
    writer.join();
    adder.join();
    EXPECT_GT(writes.load(), 0u);
    EXPECT_GT(adds.load(), 0u);

    // The last file holds a consistent table: every component it lists restores.
    ASSERT_EQ(backup.exportToFile("final.bup"), 0);
    const u32 stored = profile.getValueUInt(3u, 0u, 1u, 0u, nullptr);
    profile.setValueUInt(3u, 0u, 1u, 0u, stored + 1, 0);
    ASSERT_EQ(backup.importFromFile("final.bup"), 0);
    EXPECT_EQ(profile.getValueUInt(3u, 0u, 1u, 0u, nullptr), stored);
}

// Databases on separate mutexes: the import takes their locks in the order the copy operations use (mutex
// address), not in collection order, so an import and a copy between the same two databases cannot deadlock
// (ThreadSanitizer reports the inverted order even when the two never meet).
TEST(BackupThreads, ImportLocksDatabasesInTheCopyOrder)
{
    registerKeep();
    ScratchDir dir;
    static SimpleReadWriteMutex mutexes[2];
    // The database at position 0 gets the mutex at the higher address.
    ASSERT_EQ(ParameterDBCollection::createInstance(0, "Profile", &mutexes[1], 0), 0);
    ASSERT_EQ(ParameterDBCollection::createInstance(1, "DeviceSetup", &mutexes[0], 0), 0);
    IParameterDB& profile = ParameterDBCollection::getInstance(0);
    IParameterDB& device = ParameterDBCollection::getInstance(1);
    ASSERT_EQ(profile.addComponent(0x11, "Keep", 1, 0, 0, 0), 0);
    ASSERT_EQ(device.addComponent(0x11, "Keep", 1, 0, 0, 0), 0);
    fillKeep(profile, 100);
    fillKeep(device, 500);

    BackupFile backup;
    ASSERT_EQ(backup.setup("ZethImage", 0, {{&profile, 0}, {&device, 0}}, dir.path().c_str()), 0);
    ASSERT_EQ(backup.exportToFile("b.bup"), 0);

    std::atomic<bool> stop{false};
    std::thread copier([&] {
        while (!stop.load()) {
            profile.copyAllFrom(device, ParameterFilter(0), 0xFF); // locks device's mutex, then profile's
        }
    });
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(backup.importFromFile("b.bup"), 0);
    }
    stop.store(true);
    copier.join();
    for (u32 i = 0; i < 2; ++i) {
        ParameterDBCollection::deleteInstance(i);
    }
}
