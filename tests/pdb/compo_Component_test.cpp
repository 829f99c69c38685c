// Components: export/import of single components (block records that are unknown, refused or of another
// component type), change banks per subscriber, skip marks, dimensions and rebuilding.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

#include "compo_TestTypes.h"
#include "pdb_Component.h"
#include "pdb_ComponentNULL.h"
#include "pdb_ComponentTable.h"
#include "pdb_LocalComponent.h"
#include "pdb_ParameterDBNULL.h"

using namespace PDB;
using namespace compo_test;

namespace {

constexpr i32 BAD_ARGUMENT = static_cast<i32>(0x80000001u);
constexpr i32 TYPE_MISMATCH = static_cast<i32>(0x80020000u);
constexpr i32 NO_FURTHER_CHANGE = 0x200000;

class CountingCallback : public IComponentCallback
{
public:
    i32 onComponentChanged() override
    {
        ++calls;
        return 0;
    }
    int calls = 0;
};

// An owner that recalls.
class RecallingDB : public ParameterDBNULL
{
public:
    bool isRecalling() const override { return recalling; }
    bool recalling = false;
};

ComponentInfo gainInfo(ComponentUID uid)
{
    ComponentInfo info(registerGain());
    info.setComponentUID(uid);
    info.setDimensions(0, 0, 0);
    return info;
}

// The reference "Gain" export (uid 0x101, "In1", values set).
std::vector<u8> referenceExport()
{
    LocalParameterDB db;
    buildReferenceDB(db);
    return exportComponent(db.getComponent(1));
}

// Every (block, x, y) that findNextChange reports for subscriber s, in order.
std::vector<std::tuple<u32, u32, u32>> scan(Component& component, u32 s)
{
    std::vector<std::tuple<u32, u32, u32>> found;
    u32 block = 0;
    u32 x = 0;
    u32 y = 0;
    while (component.findNextChange(s, block, x, y) == 0) {
        found.emplace_back(block, x, y);
    }
    return found;
}

} // namespace

TEST(Component, SharedAndLocalComponentsExportTheSameBytes)
{
    const std::vector<u8> reference = referenceExport();
    Component shared;
    ASSERT_EQ(shared.create(nullptr, 0, gainInfo(0x101), nullptr, 0), 0);
    ASSERT_EQ(shared.importBinary(nullptr, 0, reference.data(), static_cast<u32>(reference.size()), 8, 0, 0), 0);
    EXPECT_NE(exportComponent(shared), reference); // a value import leaves name and user value alone
    shared.setName("In1");
    shared.setUserValue(0x12345);
    EXPECT_EQ(exportComponent(shared), reference);
    EXPECT_EQ(shared.getValueInt(0, 2, 1, nullptr), 7);
    EXPECT_EQ(shared.getExportSize(), 160u);
    std::vector<u8> small(159);
    EXPECT_LT(shared.exportBinary(small.data(), 159), 0);
    EXPECT_EQ(shared.exportBinary(small.data(), 91), BAD_ARGUMENT);
}

TEST(Component, ImportSkipsUnknownAndRefusedBlocksAndKeepsGoing)
{
    const std::vector<u8> reference = referenceExport();
    for (int kind = 0; kind < 2; ++kind) {
        std::vector<u8> record = reference;
        if (kind == 0) {
            record[92 + 5] = 9; // block index 9: no such block
        } else {
            record[92 + 6] = 0x14; // UINT32 record for the SINT32 block, same size: the array refuses it
        }
        Component shared;
        ASSERT_EQ(shared.create(nullptr, 0, gainInfo(0x101), nullptr, 0), 0);
        LocalComponent local;
        ASSERT_EQ(local.create(gainInfo(0x101)), 0);
        for (AbstractComponent* component :
             {static_cast<AbstractComponent*>(&shared), static_cast<AbstractComponent*>(&local)}) {
            EXPECT_EQ(component->importBinary(nullptr, 0, record.data(), static_cast<u32>(record.size()), 8, 0, 0), 0);
            EXPECT_EQ(component->getValueInt(0, 2, 1, nullptr), 0) << kind;     // the first record was skipped
            EXPECT_EQ(component->getValueUInt(1, 2, 0, nullptr), 255u) << kind; // the later one imported
        }
    }
}

TEST(Component, ImportOfAnotherTypeNeedsRecreation)
{
    registerOther();
    LocalParameterDB db;
    db.addComponent(0x101, "Other", 1, 2, 1, 0);
    db.setValueInt(0, 0, 3, 1, 33, 0);
    const std::vector<u8> other = exportComponent(db.getComponent(0));

    Component shared;
    CountingCallback callback;
    ASSERT_EQ(shared.create(nullptr, 0, gainInfo(0x101), &callback, 0), 0);
    shared.setValueInt(0, 0, 0, -9, 0);
    const std::vector<u8> before = exportComponent(shared);
    const int calls = callback.calls;
    EXPECT_EQ(shared.importBinary(nullptr, 0, other.data(), static_cast<u32>(other.size()), 8, 0, 0), TYPE_MISMATCH);
    EXPECT_EQ(exportComponent(shared), before);
    EXPECT_EQ(callback.calls, calls);

    // Filter bit 0 rebuilds the component from the record's description, dimensions included.
    ASSERT_EQ(shared.importBinary(nullptr, 0, other.data(), static_cast<u32>(other.size()), 9, 0, 0), 0);
    EXPECT_EQ(shared.getComponentInfo().getName(), "Other");
    EXPECT_EQ(shared.getComponentInfo().getCurrentX(), 2u);
    EXPECT_EQ(shared.getValueInt(0, 3, 1, nullptr), 33);
    EXPECT_EQ(exportComponent(shared), other);
    EXPECT_EQ(callback.calls, calls + 1);
}

TEST(Component, ChangeBanksSeparateCollectingAndScanning)
{
    Component component;
    CountingCallback callback;
    ASSERT_EQ(component.create(nullptr, 0, gainInfo(0x101), &callback, 0), 0);
    ASSERT_EQ(component.setSubscriberCount(2), 0);

    component.setValueInt(0, 3, 1, 5, 0); // before the swap: collected, scanned after it
    EXPECT_GT(callback.calls, 0);
    EXPECT_FALSE(component.isChangedFor(0, 0, 3, 1));
    ASSERT_EQ(component.swapChangeBank(0), 0);
    EXPECT_TRUE(component.isChangedFor(0, 0, 3, 1));
    component.setValueInt(0, 1, 0, 6, 0); // after the swap: invisible until the next swap
    using Found = std::vector<std::tuple<u32, u32, u32>>;
    EXPECT_EQ(scan(component, 0), (Found{{0, 3, 1}}));
    EXPECT_EQ(scan(component, 0), Found{}); // found once, then cleared
    ASSERT_EQ(component.swapChangeBank(0), 0);
    EXPECT_EQ(scan(component, 0), (Found{{0, 1, 0}}));

    // Subscriber 1 never swapped: its scanned bank is still empty; after a swap it sees both writes.
    ASSERT_EQ(component.swapChangeBank(1), 0);
    EXPECT_EQ(scan(component, 1), (Found{{0, 1, 0}, {0, 3, 1}}));

    // A whole-block write marks every element once.
    LocalParameterArray source;
    ASSERT_EQ(source.initialize(component.getParameterInfo(1)), 0);
    component.assignBlock(1, component, 0);
    component.swapChangeBank(0);
    const Found all = scan(component, 0);
    EXPECT_EQ(all, (Found{{1, 0, 0}, {1, 1, 0}, {1, 2, 0}}));

    EXPECT_EQ(component.swapChangeBank(2), static_cast<i32>(0x80000000u));
    u32 block = 0, x = 0, y = 0;
    EXPECT_EQ(component.findNextChange(2, block, x, y), static_cast<i32>(0x80000000u));
    EXPECT_EQ(component.clearChangesFor(2), BAD_ARGUMENT);
    // A start position past the block's elements moves on to the next block instead of failing.
    component.setValueUInt(1, 1, 0, 3, 0);
    component.swapChangeBank(0);
    block = 0;
    x = 9;
    y = 9;
    EXPECT_EQ(component.findNextChange(0, block, x, y), 0);
    EXPECT_EQ(std::make_tuple(block, x, y), std::make_tuple(1u, 1u, 0u));
    block = 5;
    EXPECT_EQ(component.findNextChange(0, block, x, y), NO_FURTHER_CHANGE);
}

TEST(Component, RecallingMarksOnlyFilterOneSubscribers)
{
    RecallingDB owner;
    Component component;
    ASSERT_EQ(component.create(&owner, 0, gainInfo(0x101), nullptr, 0), 0);
    ASSERT_EQ(component.setSubscriberCount(3), 0);
    component.setSubscriberFilter(0, 1);
    component.setSubscriberFilter(1, 8);
    EXPECT_EQ(component.setSubscriberFilter(7, 1), 0);
    owner.recalling = true;
    component.setValueInt(0, 0, 0, 4, 0);
    owner.recalling = false;
    component.setValueInt(0, 0, 1, 4, 0);
    for (u32 s = 0; s < 3; ++s) {
        component.swapChangeBank(s);
    }
    EXPECT_TRUE(component.isChangedFor(0, 0, 0, 0));
    EXPECT_FALSE(component.isChangedFor(1, 0, 0, 0));
    EXPECT_FALSE(component.isChangedFor(2, 0, 0, 0));
    EXPECT_TRUE(component.isChangedFor(1, 0, 0, 1));
    EXPECT_EQ(component.clearChangesFor(1), 0);
    EXPECT_FALSE(component.isChangedFor(1, 0, 0, 1));
}

TEST(Component, SetDimensionsCarriesMarksAndValuesAndRefusesBadRanges)
{
    Component component;
    ASSERT_EQ(component.create(nullptr, 0, gainInfo(0x101), nullptr, 0), 0);
    ASSERT_EQ(component.setSubscriberCount(1), 0);
    ASSERT_EQ(component.setSkipMark(0, 2, 1, true), 0);
    ASSERT_EQ(component.setSkipMark(1, 2, 0, true), 0);
    EXPECT_EQ(component.setSkipMark(0, 4, 0, true), BAD_ARGUMENT);
    EXPECT_EQ(component.setSkipMark(2, 0, 0, true), BAD_ARGUMENT);
    component.setValueInt(0, 3, 1, 12, 0);
    component.swapChangeBank(0);
    const i16 number = component.getComponentInfo().getComponentNumber();
    const std::vector<u8> before = exportComponent(component);

    // Out of the type's limits: nothing changes, the number stays.
    EXPECT_EQ(component.setDimensions(5, 1, 1, 0), BAD_ARGUMENT);
    EXPECT_EQ(component.setDimensions(0, 1, 1, 0), static_cast<i32>(0x80080000u));
    EXPECT_EQ(exportComponent(component), before);
    EXPECT_EQ(component.getComponentInfo().getComponentNumber(), number);
    EXPECT_TRUE(component.isChangedFor(0, 0, 3, 1));

    // The "Gain" blocks have fixed sizes; the description records the new dimensions.
    ASSERT_EQ(component.setDimensions(2, 3, 1, 0), 0);
    EXPECT_EQ(component.getComponentInfo().getComponentNumber(), number + 1);
    EXPECT_EQ(component.getComponentInfo().getCurrentY(), 3u);
    EXPECT_TRUE(component.isSkipMarked(0, 2, 1));
    EXPECT_TRUE(component.isSkipMarked(1, 2, 0));
    EXPECT_FALSE(component.isSkipMarked(0, 3, 1));
    EXPECT_EQ(component.getValueInt(0, 3, 1, nullptr), 12);
    EXPECT_FALSE(component.isChangedFor(0, 0, 3, 1)); // banks cleared
    component.setValueInt(0, 0, 0, 1, 0);
    component.swapChangeBank(0);
    EXPECT_TRUE(component.isChangedFor(0, 0, 0, 0));

    // A type whose blocks follow the dimensions: marks keep their (x, y) position under the new shape.
    registerAllTypes();
    ComponentInfo all(ComponentInfoRepository::getInstance().findComponentInfo("AllTypes", 2));
    all.setComponentUID(7);
    Component sized;
    ASSERT_EQ(sized.create(nullptr, 0, all, nullptr, 0), 0);
    ASSERT_EQ(sized.setSkipMark(1, 0, 0, true), 0); // "/u16" is X x Y
    sized.setValueUInt(1, 0, 0, 77, 0);
    ASSERT_EQ(sized.setDimensions(3, 2, 1, 0), 0);
    EXPECT_EQ(sized.getParameterInfo(1).getCountY(), 2u);
    EXPECT_TRUE(sized.isSkipMarked(1, 0, 0));
    EXPECT_FALSE(sized.isSkipMarked(1, 0, 1));
    EXPECT_EQ(sized.getValueUInt(1, 0, 0, nullptr), 77u);
    EXPECT_EQ(sized.getValueUInt(1, 2, 1, nullptr), 7u); // new elements start at the default
    ASSERT_EQ(sized.setDimensions(1, 1, 0, 0), 0);
    EXPECT_EQ(sized.getValueUInt(1, 0, 0, nullptr), 7u); // without keep: defaults
}

TEST(Component, RecreateRebuildsSubscriberBanks)
{
    Component component;
    ASSERT_EQ(component.create(nullptr, 0, gainInfo(0x101), nullptr, 0), 0);
    ASSERT_EQ(component.setSubscriberCount(2), 0);
    component.setSubscriberFilter(1, 1);
    const i32 revision = component.getArrayRevision(0);
    registerAllTypes();
    ComponentInfo all(ComponentInfoRepository::getInstance().findComponentInfo("AllTypes", 2));
    all.setComponentUID(0x101);
    ASSERT_EQ(component.recreate(nullptr, 0, all, 0), 0);
    EXPECT_EQ(component.getBlockCount(), 10u);
    EXPECT_EQ(component.getArrayRevision(0), revision + 1);
    EXPECT_EQ(component.getBlockAddress(9).getBlockIndex(), 9u);
    EXPECT_STREQ(component.getBlockAddress(9).getAddress(), "/bin");
    EXPECT_EQ(scan(component, 0).size(), 0u);
    component.setValueBool(7, 12, 0, false, 0); // "/b", BOOL, default 1
    component.setValueString(8, 2, 0, "x", 0);
    component.swapChangeBank(1);
    using Found = std::vector<std::tuple<u32, u32, u32>>;
    EXPECT_EQ(scan(component, 1), (Found{{7, 12, 0}, {8, 2, 0}}));
    EXPECT_EQ(component.recreate(nullptr, 0, ComponentInfo(), 0), BAD_ARGUMENT);
}

TEST(Component, LocalComponentResizesItsDescriptionToo)
{
    registerAllTypes();
    LocalComponent local;
    ComponentInfo all(ComponentInfoRepository::getInstance().findComponentInfo("AllTypes", 2));
    all.setComponentUID(3);
    ASSERT_EQ(local.create(all), 0);
    ASSERT_EQ(local.setValueUInt(0, 2, 0, 50, 0), 0);
    ASSERT_EQ(local.setDimensions(4, 3, 1, 0xFF), 0);
    EXPECT_EQ(local.getComponentInfo().getCurrentX(), 4u);
    EXPECT_EQ(local.getComponentInfo().getComponentNumber(), all.getComponentNumber());
    EXPECT_EQ(local.getParameterInfo(0).getCountX(), 12u);
    EXPECT_EQ(local.getValueUInt(0, 2, 0, nullptr), 50u);
    // Its export reads back into a component of the same shape.
    const std::vector<u8> bytes = exportComponent(local);
    EXPECT_EQ(Record::frameComponentExport(bytes.data(), bytes.size(), false), 0);
    LocalComponent copy;
    ASSERT_EQ(copy.importBinary(nullptr, 0, bytes.data(), static_cast<u32>(bytes.size()), 1, 0, 0), 0);
    EXPECT_EQ(exportComponent(copy), bytes);
    EXPECT_EQ(local.setSkipMark(0, 0, 0, true), static_cast<i32>(0x80080000u));
    EXPECT_EQ(local.setDimensions(6, 1, 1, 0), BAD_ARGUMENT);
    EXPECT_EQ(exportComponent(local), bytes);
}

TEST(Component, DefaultsRevalidationAndSkipMaskedCopies)
{
    // A record written raw (filter 8) may hold values beyond the limits; revalidation passes them through the
    // limits again and reports them.
    std::vector<u8> record = referenceExport();
    Record::writeU32(record.data() + 92 + 16, 0);
    record[92 + 16] = 0x88; // /Level (0,0) = 5000, little-endian
    record[92 + 17] = 0x13;
    Component component;
    ASSERT_EQ(component.create(nullptr, 0, gainInfo(0x101), nullptr, 0), 0);
    ASSERT_EQ(component.setSubscriberCount(1), 0);
    ASSERT_EQ(component.importBinary(nullptr, 0, record.data(), static_cast<u32>(record.size()), 8, 3, 0), 0);
    EXPECT_EQ(component.getValueInt(0, 0, 0, nullptr), 5000);
    EXPECT_EQ(component.getElementStatus(0, 0, 0), 3);
    component.swapChangeBank(0);
    EXPECT_FALSE(component.isChangedFor(0, 0, 0, 0)); // direct imports report nothing
    component.swapChangeBank(0);
    EXPECT_EQ(component.revalidateAll(4), 0);
    EXPECT_EQ(component.getValueInt(0, 0, 0, nullptr), 1000);
    EXPECT_EQ(component.getValueInt(0, 2, 1, nullptr), 7);
    component.swapChangeBank(0);
    EXPECT_TRUE(component.isChangedFor(0, 0, 0, 0));
    EXPECT_FALSE(component.isChangedFor(0, 0, 2, 1));

    // Skip-marked elements keep their value through filtered copies and imports.
    Component source;
    ASSERT_EQ(source.create(nullptr, 0, gainInfo(0x101), nullptr, 0), 0);
    source.setValueInt(0, 1, 1, 11, 0);
    source.setValueInt(0, 2, 1, 22, 0);
    ASSERT_EQ(component.setSkipMark(0, 2, 1, true), 0);
    EXPECT_EQ(component.copyBlockFiltered(0, source, 8, 0), 0);
    EXPECT_EQ(component.getValueInt(0, 1, 1, nullptr), 11);
    EXPECT_EQ(component.getValueInt(0, 2, 1, nullptr), 7);
    EXPECT_EQ(component.copyValueFrom(0, 2, 1, source), 0);
    EXPECT_EQ(component.getValueInt(0, 2, 1, nullptr), 22);

    EXPECT_EQ(component.setAllToDefault(0), 0);
    EXPECT_EQ(component.getValueInt(0, 1, 1, nullptr), 0);
    EXPECT_EQ(component.getValueUInt(1, 2, 0, nullptr), 0u);
    EXPECT_EQ(component.setBlockToDefault(9, 0), 0); // no such block: nothing to do

    // A local component has no defaults of its own per element.
    LocalComponent local;
    ASSERT_EQ(local.copyFrom(source), 0);
    EXPECT_EQ(local.getValueInt(0, 2, 1, nullptr), 22);
    EXPECT_EQ(local.setAllToDefault(0), static_cast<i32>(0x80000040u));
    EXPECT_EQ(local.copyFrom(ComponentNULL::getInstance()), BAD_ARGUMENT);
    EXPECT_FALSE(local.isValid());
}

TEST(Component, ImportLogsEachRecordProblemWithItsLine)
{
    const std::vector<u8> reference = referenceExport();
    // Runs one import into a fresh "Gain" component: its result and everything it logged.
    auto run = [](const std::vector<u8>& record, size_t length) {
        LocalComponent component;
        EXPECT_EQ(component.create(gainInfo(0x101)), 0);
        testing::internal::CaptureStdout();
        const i32 result = component.importBinary(nullptr, 0, record.data(), static_cast<u32>(length), 8, 0, 0);
        return std::make_pair(result, testing::internal::GetCapturedStdout());
    };
    using Outcome = std::pair<i32, std::string>;
    constexpr i32 MALFORMED = static_cast<i32>(0x80010000u);

    std::vector<u8> record = reference;
    record[92 + 5] = 9;
    EXPECT_EQ(run(record, record.size()),
              Outcome(0, "[W] ComponentInfo::importBinary - Unknown address found. [paramBlockIndex=0, "
                         "destAddressIndex=9]\n"));
    record = reference;
    record[92 + 6] = 0x14;
    EXPECT_EQ(run(record, record.size()),
              Outcome(0, "[E] ComponentInfo::importBinary - Parameter importing failed. [paramBlockIndex=0, "
                         "destAddressIndex=0]\n"));
    record = reference;
    record[140] = 'X';
    EXPECT_EQ(run(record, record.size()),
              Outcome(MALFORMED, "[E] ComponentInfo::importBinary - Unknown ParameterInfo format. "
                                 "[paramBlockIndex=1]\n"));
    EXPECT_EQ(run(reference, reference.size() - 1),
              Outcome(MALFORMED, "[E] ComponentInfo::importBinary - Insufficient data size. [paramBlockIndex=1, "
                                 "destAddressIndex=1]\n"));
    // A foreign tag is a format error even when its header is cut short as well.
    EXPECT_EQ(run(record, 140 + 10),
              Outcome(MALFORMED, "[E] ComponentInfo::importBinary - Unknown ParameterInfo format. "
                                 "[paramBlockIndex=1]\n"));
    EXPECT_EQ(run(reference, 140 + 10),
              Outcome(MALFORMED, "[E] ComponentInfo::importBinary - Insufficient data size. [paramBlockIndex=1, "
                                 "destAddressIndex=1]\n"));

    // Another type is refused as such before its records are looked at, damaged or not.
    registerOther();
    LocalParameterDB db;
    db.addComponent(0x101, "Other", 1, 0, 0, 0);
    std::vector<u8> other = exportComponent(db.getComponent(0));
    other[140] = 'X';
    EXPECT_EQ(run(other, other.size()),
              Outcome(TYPE_MISMATCH, "[E] AbstractComponent::importBinary - Unknown component. [name=Other, ver=1]\n"));
}
