// Record recalls on one thread while another thread writes the same shared database: the recall brackets
// (recall mark, strategy suppression) must never swallow the other thread's post-write hooks.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "pdb_ParameterStrategy.h"
#include "pdb_PresetData.h"
#include "snap_Fixture.h"

using namespace snap_test;

namespace {

// Counts the post-write hooks that ran on the writer thread.
class CountingStrategy : public ParameterStrategy
{
public:
    i32 onWritten(IParameterDB*, u32, u32, u32, u32, const ParameterInfo&, const KVariant&, const KVariant&,
                  u8) override
    {
        if (std::this_thread::get_id() == m_Writer.load()) {
            m_Hooks.fetch_add(1);
        }
        return 0;
    }
    std::atomic<std::thread::id> m_Writer{};
    std::atomic<u32> m_Hooks{0};
};

CountingStrategy& counting()
{
    static CountingStrategy strategy;
    return strategy;
}

void registerCounted()
{
    ComponentInfo info;
    info.initialize("Counted", 1, 1, 1, 4, 4, "", "", &counting());
    info.addParameterUInt32("/Value", 4, 4, "", "", 0, 1000000, 0, 0, 1, 1, RECALLABLE, "", "", "");
    info.addParameterUInt16("/Small", 2, 1, "", "", 0, 60000, 0, 0, 1, 1, RECALLABLE, "", "", "");
    ComponentInfoRepository::getInstance().registerComponentInfo(info);
}

class RecallWhileWriting : public SnapFixture
{
};

TEST_F(RecallWhileWriting, OtherThreadsWritesKeepTheirHooks)
{
    registerCounted();
    IParameterDB& db = test();
    ASSERT_EQ(db.addComponent(0x401, "Counted", 1, 0, 0, 0), 0);
    ASSERT_EQ(db.addComponent(0x402, "Counted", 1, 0, 0, 0), 0);
    ASSERT_EQ(db.addComponent(0x403, "Counted", 1, 0, 0, 0), 0);
    for (u32 x = 0; x < 4; ++x) {
        setUInt(db, 0x401, "/Value", x, 0, 10 + x);
    }
    const std::vector<u8> elements = snapshotRecord(PresetItem(3, "Test", 0x401, "Counted", "/Value", WHOLE, 0));
    const std::vector<u8> component = snapshotRecord(PresetItem(1, "Test", 0x401, "Counted", "", 0, 0));
    std::vector<u8> presetElements = elements;
    presetElements[1] = 'P';
    ASSERT_FALSE(elements.empty());
    ASSERT_FALSE(component.empty());

    constexpr u32 WRITES = 3000;
    std::atomic<bool> done{false};
    std::atomic<u32> recalls{0};
    std::atomic<bool> recallFailed{false};
    u32 changingWrites = 0;

    std::thread recaller([&] {
        const ParameterDBCollection& all = ParameterDBCollection::getCollection();
        PresetItem item;
        while (!done.load()) {
            if (decodeSnapshotRecord(item, all, elements.data(), static_cast<u32>(elements.size()), true) != 0 ||
                decodeSnapshotRecord(item, all, component.data(), static_cast<u32>(component.size()), true) != 0 ||
                decodePresetRecord(item, &db, 0x403, presetElements.data(), static_cast<u32>(presetElements.size()),
                                   true) != 0) {
                recallFailed = true;
            }
            recalls.fetch_add(1);
        }
    });
    std::thread writer([&] {
        counting().m_Writer = std::this_thread::get_id();
        while (recalls.load() == 0) {
            std::this_thread::yield();
        }
        const u32 index = db.getComponentIndex(0x402);
        const u32 block = db.getBlockIndex(0x402, "/Value");
        for (u32 i = 0; i < WRITES; ++i) {
            // Alternating values: every write changes the element.
            if (db.setValueUInt(index, block, i % 4, (i / 4) % 4, (i & 1) != 0 ? 500000 + i : i + 1, 0) == 0) {
                ++changingWrites;
            }
        }
        done = true;
    });
    writer.join();
    recaller.join();

    EXPECT_FALSE(recallFailed.load());
    EXPECT_GT(recalls.load(), 1u);
    EXPECT_EQ(changingWrites, WRITES);
    EXPECT_EQ(counting().m_Hooks.load(), changingWrites);
    EXPECT_FALSE(db.isStrategySuppressed());
    EXPECT_FALSE(db.isRecalling());
    EXPECT_EQ(uintAt(db, 0x401, "/Value", 3, 0), 13u);
    EXPECT_EQ(uintAt(db, 0x403, "/Value", 2, 0), 12u);
}

} // namespace
