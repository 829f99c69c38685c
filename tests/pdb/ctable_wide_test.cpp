// Component tables of components with many blocks: the shared and the local database write the same bytes.
// Exports walk a component's blocks in groups, so a type with more blocks than one group exercises the seams.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compo_TestTypes.h"
#include "pdb_LocalParameterDB.h"
#include "pdb_ParameterDB.h"
#include "pdb_SimpleReadWriteMutex.h"

namespace {

using namespace compo_test;

constexpr u32 BLOCKS = 37;

// "Wide" 1: 37 blocks cycling through UINT32, UINT8, FLOAT, STRING(5) and BOOL, shapes varying per block.
const ComponentInfo& registerWide()
{
    ComponentInfo info;
    info.initialize("Wide", 1, 1, 1, 1, 1, "", "", nullptr);
    for (u32 b = 0; b < BLOCKS; ++b) {
        const std::string address = "/w" + std::to_string(b);
        const u32 count = 1 + b % 5;
        switch (b % 5) {
        case 0:
            info.addParameterUInt32(address.c_str(), count, 1, "", "", 0, 0xFFFFFFF0u, 3, 0, 1, 1, RECALLABLE, "", "",
                                    "");
            break;
        case 1:
            info.addParameterUInt8(address.c_str(), count, 2, "", "", 0, 250, 1, 0, 1, 1, RECALLABLE, "", "", "");
            break;
        case 2:
            info.addParameterFloat(address.c_str(), count, 1, "", "", -5.0f, 5.0f, 0.25f, 0.0f, 0.5f, 1, RECALLABLE, "",
                                   "", "");
            break;
        case 3:
            info.addParameterString(address.c_str(), count, 1, "", "", 5, "ab", RECALLABLE, "", "", "");
            break;
        default:
            info.addParameterBool(address.c_str(), count, 3, "", "", 0, 1, 0, RECALLABLE, "", "", "");
            break;
        }
    }
    ComponentInfoRepository::getInstance().registerComponentInfo(info);
    return ComponentInfoRepository::getInstance().findComponentInfo("Wide", 1);
}

// Adds three components with uids out of order and writes a pattern that depends on uid, block and element.
void populate(IParameterDB& db)
{
    const ComponentUID uids[] = {0x30, 0x10, 0x20};
    for (u32 c = 0; c < 3; ++c) {
        ASSERT_EQ(db.addComponent(uids[c], "Wide", 1, 0, 0, 0), 0);
        ASSERT_EQ(db.setComponentName(c, ("W" + std::to_string(c)).c_str()), 0);
        for (u32 b = 0; b < BLOCKS; b += 2) {
            const u32 seed = uids[c] + b;
            switch (b % 5) {
            case 0:
                EXPECT_GE(db.setValueUInt(c, b, 0, 0, 1000 + seed, 0), 0);
                break;
            case 1:
                EXPECT_GE(db.setValueUInt(c, b, 1, 1, seed % 200, 0), 0);
                break;
            case 2:
                EXPECT_GE(db.setValueFloat(c, b, 2, 0, -1.5f, 0), 0);
                break;
            case 3:
                EXPECT_GE(db.setValueString(c, b, 3, 0, "xyz", 0), 0);
                break;
            default:
                EXPECT_GE(db.setValueUInt(c, b, 4, 2, 1, 0), 0);
                break;
            }
        }
    }
}

std::vector<u8> exportAll(const IParameterDB& db, u32 header)
{
    std::vector<u8> bytes(db.getComponentTableSize());
    EXPECT_EQ(db.exportComponentTable(bytes.data(), static_cast<u32>(bytes.size()), header), 0);
    return bytes;
}

TEST(ComponentTableWide, SharedAndLocalWriteTheSameBytes)
{
    registerWide();
    LocalParameterDB local;
    populate(local);
    SimpleReadWriteMutex mutex;
    ParameterDB shared;
    ASSERT_EQ(shared.initialize(7, "Wide", &mutex), 0);
    populate(shared);

    const std::vector<u8> fromLocal = exportAll(local, 0x55);
    const std::vector<u8> fromShared = exportAll(shared, 0x55);
    ASSERT_GT(fromLocal.size(), 12u + 3 * 92u);
    EXPECT_EQ(fromShared, fromLocal);

    // By uid list, out of order. The buffer must have room for the whole table whatever the list holds; the
    // listed table fills its own size of it.
    ComponentUIDList uids;
    uids.push_back(0x20);
    uids.push_back(0x30);
    const u32 listed = local.getComponentTableSize(uids);
    ASSERT_EQ(shared.getComponentTableSize(uids), listed);
    ASSERT_LT(listed, fromLocal.size());
    std::vector<u8> a(fromLocal.size(), 0xEE);
    std::vector<u8> b(fromLocal.size(), 0xEE);
    EXPECT_EQ(local.exportComponentTable(a.data(), static_cast<u32>(a.size()), 1, uids), 0);
    EXPECT_EQ(shared.exportComponentTable(b.data(), static_cast<u32>(b.size()), 1, uids), 0);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a[listed], 0xEE); // nothing past the listed table

    // A buffer one byte short is refused by both.
    std::vector<u8> shortBuffer(fromLocal.size() - 1);
    EXPECT_EQ(local.exportComponentTable(shortBuffer.data(), static_cast<u32>(shortBuffer.size()), 0),
              static_cast<i32>(0x80000001u));
    EXPECT_EQ(shared.exportComponentTable(shortBuffer.data(), static_cast<u32>(shortBuffer.size()), 0),
              static_cast<i32>(0x80000001u));

    // The table reads back into a fresh database and exports the same bytes again.
    LocalParameterDB copy;
    ASSERT_EQ(copy.importComponentTable(fromShared.data(), static_cast<u32>(fromShared.size()), 0x01, 0xFF), 0);
    EXPECT_EQ(exportAll(copy, 0x55), fromLocal);
}

} // namespace
