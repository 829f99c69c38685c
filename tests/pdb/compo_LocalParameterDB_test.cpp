// Local parameter database: adding and emptying, positions, addresses, copies, dimensions and the table export
// of a subset.
#include <gtest/gtest.h>

#include "compo_TestTypes.h"
#include "pdb_ComponentNULL.h"
#include "pdb_ComponentTable.h"

using namespace PDB;
using namespace compo_test;

namespace {
constexpr i32 BAD_ARGUMENT = static_cast<i32>(0x80000001u);
constexpr i32 NOT_SUPPORTED = static_cast<i32>(0x80080000u);
constexpr i32 UNKNOWN_TYPE = static_cast<i32>(0x80200000u);
} // namespace

TEST(LocalParameterDB, AddingValidatesAndFillsDefaults)
{
    registerAllTypes();
    LocalParameterDB db;
    EXPECT_FALSE(db.hasOwnerThread());
    EXPECT_EQ(db.addComponent(0xFFFFFFFF, "AllTypes", 2, 0, 0, 0), BAD_ARGUMENT);
    EXPECT_EQ(db.addComponent(1, nullptr, 2, 0, 0, 0), BAD_ARGUMENT);
    EXPECT_EQ(db.addComponent(1, "AllTypes", 2, 0, 0, -1), BAD_ARGUMENT);
    EXPECT_EQ(db.addComponent(1, "AllTypes", 9, 0, 0, 0), UNKNOWN_TYPE);
    EXPECT_EQ(db.addComponent(1, "AllTypes", 2, 6, 1, 0), BAD_ARGUMENT);
    EXPECT_EQ(db.addComponent(1, ComponentInfo()), BAD_ARGUMENT);
    ASSERT_EQ(db.addComponent(1, "AllTypes", 2, 2, 3, 4), 0);
    EXPECT_EQ(db.addComponent(1, "AllTypes", 2, 0, 0, 0), BAD_ARGUMENT); // duplicate uid
    EXPECT_EQ(db.getComponentNumber(0), 4u);
    EXPECT_EQ(db.getComponentInfo(0)->getCurrentY(), 3u);

    KVariant value;
    EXPECT_EQ(db.getValue(value, 0, 8, 0, 0, nullptr), 0);
    EXPECT_STREQ(value.getString(), "abc");
    EXPECT_FLOAT_EQ(db.getValueFloat(0, 6, 2, 0, nullptr), 0.5f);
    EXPECT_EQ(db.getValueInt(0, 3, 1, 2, nullptr), -3);
    EXPECT_TRUE(db.getValueBool(0, 7, 5, 0, nullptr));
    u8 status = 0;
    EXPECT_EQ(db.getValueUInt(0, 0, 5, 0, &status), 5u);
    EXPECT_EQ(status, 0xFF);
    // getValueString answers the value in its own kind.
    EXPECT_EQ(db.getValueString(value, 0, 2, 1, 0), 0);
    EXPECT_EQ(value.getKind(), KVariant::KIND_UINT32);
    EXPECT_EQ(value.getUInt(), 9u);

    // The form with a description opens it at the type's minimum dimensions.
    ComponentInfo resized(*db.getComponentInfo(0));
    ASSERT_EQ(db.addComponent(2, resized), 0);
    EXPECT_EQ(db.getComponentInfo(1)->getCurrentX(), 1u);
    EXPECT_EQ(db.getComponentNumber(1), 0u);
}

TEST(LocalParameterDB, UnsupportedOperationsAnswerAsALocalDatabase)
{
    LocalParameterDB db;
    buildReferenceDB(db);
    EXPECT_EQ(db.registerCallback(1, nullptr, 0), NOT_SUPPORTED);
    EXPECT_EQ(db.getCallbackIndex(1), 0xFFFFFFFFu);
    EXPECT_EQ(db.removeComponent(0x101), NOT_SUPPORTED);
    EXPECT_EQ(db.getComponentCount(), 2u);
    EXPECT_EQ(db.generateComponentUID(), INVALID_COMPONENT_UID);
    EXPECT_TRUE(db.isReserved(0x101));
    EXPECT_EQ(db.setElementStatus(0, 0, 0, 0, 1), NOT_SUPPORTED);
    EXPECT_EQ(db.getElementStatus(0, 0, 0, 0), 0xFF);
    u32 c = 0, b = 0, x = 0, y = 0;
    EXPECT_EQ(db.findNextChange(0, c, b, x, y, false), NOT_SUPPORTED);
    // Writes through the null component.
    EXPECT_EQ(db.setValueInt(5, 0, 0, 0, 1, 0), NOT_SUPPORTED);
    EXPECT_EQ(&db.getComponent(5), &ComponentNULL::getInstance());
}

TEST(LocalParameterDB, RemoveAllKeepsSlotsAndAddsReuseTheLowestPosition)
{
    LocalParameterDB db;
    buildReferenceDB(db);
    ASSERT_EQ(db.getComponentSlotCount(), 2u);
    EXPECT_EQ(db.removeAllComponents(), 0);
    EXPECT_EQ(db.getComponentSlotCount(), 2u);
    EXPECT_EQ(db.getComponentCount(), 0u);
    EXPECT_EQ(db.getComponentIndex(0x101), 0xFFFFFFFFu);
    EXPECT_EQ(&db.getComponent(1), &ComponentNULL::getInstance());
    ASSERT_EQ(db.addComponent(0x300, "Gain", 1, 0, 0, 0), 0);
    EXPECT_EQ(db.getComponentIndex(0x300), 0u);
    EXPECT_EQ(db.getComponentTableSize(), 12u + 4u + 160u);
}

TEST(LocalParameterDB, AddressRecordsFollowTheComponentTheyNamed)
{
    LocalParameterDB db;
    db.setIdentity(3, "Local");
    buildReferenceDB(db);
    EXPECT_TRUE(db.hasOwnerThread());
    ParameterAddress mute = db.resolveAddress(0x101, "/Mute");
    ASSERT_TRUE(mute.isValid());
    EXPECT_EQ(mute.getComponentIndex(), 1u);
    EXPECT_EQ(mute.getBlockIndex(), 1u);
    EXPECT_EQ(db.getValueUInt(mute, 2, 0, nullptr), 255u);
    const ParameterAddress unknown = db.resolveAddress(0x101, "/Nope");
    EXPECT_EQ(unknown.getBlockIndex(), 0xFFFFFFFFu);
    EXPECT_EQ(unknown.getHash(), 0u);
    EXPECT_EQ(db.resolveAddress(1u, 0u).getBlockIndex(), 0u);
    EXPECT_STREQ(db.resolveAddress(1u, 1u).getAddress(), "/Mute");

    // The component moves: position 1 now holds another uid, 0x101 comes back at position 0.
    LocalParameterDB moved;
    moved.setIdentity(3, "Local");
    registerGain();
    moved.addComponent(0x101, "Gain", 1, 0, 0, 0);
    moved.addComponent(0x999, "Gain", 1, 0, 0, 0);
    moved.setValueUInt(0, 1, 2, 0, 17, 0);
    moved.setValueUInt(1, 1, 2, 0, 99, 0);
    EXPECT_EQ(moved.getValueUInt(mute, 2, 0, nullptr), 17u);
    EXPECT_EQ(mute.getComponentIndex(), 0u); // completed again in place
    EXPECT_EQ(moved.setValueUInt(mute, 2, 0, 18, 0), 0);
    EXPECT_EQ(moved.getValueUInt(1, 1, 2, 0, nullptr), 99u);

    // A uid that is gone reaches the null component.
    ParameterAddress gone = mute;
    moved.removeAllComponents();
    u8 status = 0;
    EXPECT_EQ(moved.getValueUInt(gone, 2, 0, &status), 0u);
    EXPECT_EQ(status, 0xFF);
    EXPECT_EQ(moved.setValueUInt(gone, 2, 0, 1, 0), NOT_SUPPORTED);
}

TEST(LocalParameterDB, CopyKeepsEmptyPositionsEmpty)
{
    LocalParameterDB source;
    source.setIdentity(4, "Src");
    registerGain();
    for (ComponentUID uid : {0x10u, 0x11u, 0x12u}) {
        source.addComponent(uid, "Gain", 1, 0, 0, 0);
    }
    source.removeAllComponents();
    source.addComponent(0x12, "Gain", 1, 2, 2, 0);
    source.addComponent(0x10, "Gain", 1, 0, 0, 0);
    source.setValueInt(0, 0, 3, 1, 8, 0); // positions 0 and 1 filled, 2 empty

    LocalParameterDB copy(source);
    EXPECT_EQ(copy.getLastResult(), 0);
    EXPECT_EQ(copy.getDBId(), 4u);
    EXPECT_STREQ(copy.getName(), "Src");
    EXPECT_EQ(copy.getComponentSlotCount(), 3u);
    EXPECT_EQ(copy.getComponentCount(), 2u);
    EXPECT_EQ(&copy.getComponent(2), &ComponentNULL::getInstance());
    EXPECT_EQ(copy.getComponentIndex(INVALID_COMPONENT_UID), 0xFFFFFFFFu);
    EXPECT_EQ(copy.getComponentTableSize(), 12u + 8u + 320u);
    EXPECT_EQ(exportAll(copy), exportAll(source));

    // Values between databases of the same layout; a source position that is empty copies nothing.
    copy.setValueInt(0, 0, 3, 1, -1, 0);
    EXPECT_EQ(copy.copyComponentFrom(0, source, 0, 0), 0);
    EXPECT_EQ(copy.getValueInt(0, 0, 3, 1, nullptr), 8);
    EXPECT_EQ(copy.copyAllFrom(source, 0, 0), 0);
    ParameterAddress level = copy.resolveAddress(0x12, "/Level");
    copy.setValueInt(level, 3, 1, -1, 0);
    EXPECT_EQ(copy.copyBlockFrom(level, source, 0, 0), 0);
    EXPECT_EQ(copy.getValueInt(level, 3, 1, nullptr), 8);

    LocalParameterDB empty;
    LocalParameterDB copyOfEmpty(empty);
    EXPECT_EQ(copyOfEmpty.getComponentSlotCount(), 0u);
    EXPECT_EQ(copyOfEmpty.getDBId(), 0xFFFFFFFFu);
    EXPECT_EQ(copyOfEmpty.copyAllFrom(source, 0, 0), NOT_SUPPORTED); // no component to copy into
}

TEST(LocalParameterDB, SubsetExportAndDimensions)
{
    registerGain();
    LocalParameterDB db;
    for (ComponentUID uid = 1; uid <= 5; ++uid) {
        ASSERT_EQ(db.addComponent(uid, "Gain", 1, 0, 0, 0), 0);
    }
    const ComponentUIDList two = {4, 2};
    const u32 twoSize = db.getComponentTableSize(two);
    std::vector<u8> buffer(db.getComponentTableSize());
    EXPECT_EQ(db.exportComponentTable(buffer.data(), twoSize, 0, two), BAD_ARGUMENT);
    ASSERT_EQ(db.exportComponentTable(buffer.data(), static_cast<u32>(buffer.size()), 0, two), 0);
    EXPECT_EQ(Record::readU32(buffer.data() + 8), 2u);
    EXPECT_EQ(Record::readU32(buffer.data() + 20 + 4), 4u);
    EXPECT_EQ(Record::readU32(buffer.data() + 180 + 4), 2u);

    registerAllTypes();
    ASSERT_EQ(db.addComponent(9, "AllTypes", 2, 2, 1, 0), 0);
    const u32 index = db.getComponentIndex(9);
    db.setValueUInt(index, 0, 5, 0, 77, 0); // "/u8" is 3 * X long
    db.setValueUInt(index, 1, 1, 0, 66, 0); // "/u16" is X x Y
    EXPECT_EQ(db.setComponentDimensions(index, 6, 1, 1, 0), BAD_ARGUMENT);
    EXPECT_EQ(db.getComponentInfo(index)->getCurrentX(), 2u);
    ASSERT_EQ(db.setComponentDimensions(index, 3, 2, 1, 0), 0);
    EXPECT_EQ(db.getValueUInt(index, 0, 5, 0, nullptr), 77u);
    EXPECT_EQ(db.getValueUInt(index, 0, 8, 0, nullptr), 5u); // new elements at the default
    EXPECT_EQ(db.getValueUInt(index, 1, 1, 0, nullptr), 66u);
    EXPECT_EQ(db.getValueUInt(index, 1, 2, 1, nullptr), 7u);
    const std::vector<u8> bytes = exportComponent(db.getComponent(index));
    EXPECT_EQ(Record::readU16(bytes.data() + 36), 3u); // the "#CI1" dimensions follow
    EXPECT_EQ(Record::readU16(bytes.data() + 38), 2u);
    EXPECT_EQ(Record::readU16(bytes.data() + 92 + 12), 9u);
    ASSERT_EQ(db.setComponentDimensions(index, 1, 1, 0, 0), 0);
    EXPECT_EQ(db.getValueUInt(index, 0, 2, 0, nullptr), 5u);
}
