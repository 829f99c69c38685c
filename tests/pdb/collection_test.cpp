// Database collection: registration by id, look-up by name, heap blocks of the instances, and copies that hold
// private local databases.
#include <gtest/gtest.h>

#include "compo_TestTypes.h"
#include "klib_HeapManager.h"
#include "pdb_LocalParameterDB.h"
#include "pdb_ParameterDB.h"
#include "pdb_ParameterDBCollection.h"
#include "pdb_ParameterDBNULL.h"
#include "pdb_SimpleReadWriteMutex.h"

using namespace PDB;
using namespace compo_test;

namespace {

constexpr i32 REFUSED = static_cast<i32>(0x80000001u);
constexpr i32 NOT_SUPPORTED = static_cast<i32>(0x80080000u);

bool isNull(const IParameterDB& db)
{
    return &db == &ParameterDBNULL::getInstance();
}

// Empties the process-wide collection again.
void deleteAll()
{
    for (u32 i = 0; i < ParameterDBCollection::CAPACITY; ++i) {
        ParameterDBCollection::deleteInstance(i);
    }
}

} // namespace

TEST(Collection, RegistersByIdAndGrowsWithNullEntries)
{
    SimpleReadWriteMutex mutex;
    EXPECT_EQ(ParameterDBCollection::createInstance(10, "Component", &mutex, 0), 0);
    EXPECT_EQ(ParameterDBCollection::createInstance(0, "Profile", &mutex, 0), 0);
    const ParameterDBCollection& all = ParameterDBCollection::getCollection();
    EXPECT_FALSE(all.isCopy());
    EXPECT_EQ(all.getSize(), 11u);
    for (u32 i = 1; i <= 9; ++i) {
        EXPECT_TRUE(isNull(all.getEntry(i))) << i;
    }
    EXPECT_TRUE(isNull(all.getEntry(11)));
    EXPECT_TRUE(isNull(ParameterDBCollection::getInstance(1000)));
    IParameterDB& component = ParameterDBCollection::getInstance(10);
    EXPECT_STREQ(component.getName(), "Component");
    EXPECT_EQ(component.getDBId(), 10u);
    EXPECT_TRUE(component.hasOwnerThread());
    EXPECT_EQ(&static_cast<ParameterDB&>(component).getMutex(), &mutex);

    EXPECT_EQ(ParameterDBCollection::createInstance(10, "Again", &mutex, 0), REFUSED);
    EXPECT_EQ(ParameterDBCollection::createInstance(20, "Far", &mutex, 0), REFUSED);
    EXPECT_EQ(ParameterDBCollection::createInstance(3, "NameOfSeventeen!!", &mutex, 0), REFUSED);
    EXPECT_EQ(all.getSize(), 11u);
    EXPECT_STREQ(ParameterDBCollection::getInstance(10).getName(), "Component");

    EXPECT_EQ(ParameterDBCollection::findInstance("Profile"), 0);
    EXPECT_EQ(ParameterDBCollection::findInstance("Component"), 10);
    EXPECT_EQ(ParameterDBCollection::findInstance("Status"), -1);
    EXPECT_EQ(ParameterDBCollection::findInstance("(dummy)"), -1); // empty positions are not compared
    EXPECT_EQ(ParameterDBCollection::findInstance(nullptr), -1);
    EXPECT_EQ(ParameterDBCollection::createInstance(5, nullptr, &mutex, 0), 0);
    EXPECT_EQ(ParameterDBCollection::findInstance(nullptr), 5); // a null name counts as empty

    EXPECT_EQ(ParameterDBCollection::deleteInstance(4), REFUSED);
    EXPECT_EQ(ParameterDBCollection::deleteInstance(25), REFUSED);
    EXPECT_EQ(ParameterDBCollection::deleteInstance(10), 0);
    EXPECT_TRUE(isNull(ParameterDBCollection::getInstance(10)));
    EXPECT_EQ(ParameterDBCollection::deleteInstance(10), REFUSED);
    EXPECT_EQ(ParameterDBCollection::createInstance(10, "Component", nullptr, 0), 0);
    deleteAll();
}

TEST(Collection, InstancesLiveInOneElementBlocksOfTheCallersHeap)
{
    EXPECT_EQ(ParameterDBCollection::createInstance(2, "Heap", nullptr, 0), 0);
    const void* block = &ParameterDBCollection::getInstance(2);
    EXPECT_EQ(KLIB::blockHeapId(block), 0u);
    EXPECT_EQ(KLIB::blockCount(block), 1u);
    EXPECT_EQ(ParameterDBCollection::createInstance(3, "NoHeap", nullptr, 31), static_cast<i32>(0x80040000u));
    EXPECT_TRUE(isNull(ParameterDBCollection::getInstance(3)));
    deleteAll();
}

TEST(Collection, CopiesHoldLocalDatabasesAndRefuseChanges)
{
    registerGain();
    SimpleReadWriteMutex mutex;
    ASSERT_EQ(ParameterDBCollection::createInstance(1, "One", &mutex, 0), 0);
    ASSERT_EQ(ParameterDBCollection::createInstance(4, "Four", &mutex, 0), 0);
    IParameterDB& four = ParameterDBCollection::getInstance(4);
    ASSERT_EQ(four.addComponent(0x101, "Gain", 1, 0, 0, 0), 0);
    ASSERT_EQ(four.setValueInt(0, 0, 1, 1, 33, 0), 0);
    {
        ParameterDBCollection copy(ParameterDBCollection::getCollection());
        EXPECT_TRUE(copy.isCopy());
        // The table never shrinks: earlier cases of this process may have made it longer than 5.
        const u32 size = ParameterDBCollection::getCollection().getSize();
        EXPECT_GE(size, 5u);
        EXPECT_EQ(copy.getSize(), size);
        for (u32 i = 0; i < size; ++i) {
            if (i != 1 && i != 4) {
                EXPECT_TRUE(isNull(copy.getEntry(i))) << i;
            }
        }
        for (u32 i : {1u, 4u}) {
            IParameterDB& entry = copy.getEntry(i);
            EXPECT_NE(dynamic_cast<LocalParameterDB*>(&entry), nullptr) << i;
            EXPECT_NE(&entry, &ParameterDBCollection::getInstance(i));
            EXPECT_EQ(entry.getDBId(), i);
        }
        EXPECT_EQ(copy.getEntry(4).getValueInt(0, 0, 1, 1, nullptr), 33);
        EXPECT_EQ(copy.find("Four"), 4);
        EXPECT_EQ(copy.remove(4), NOT_SUPPORTED);
        EXPECT_EQ(copy.create(7, "Seven", nullptr, 0), NOT_SUPPORTED);
        EXPECT_EQ(copy.getSize(), size);
        // The copy is private: writes to it leave the original alone.
        copy.getEntry(4).setValueInt(0, 0, 1, 1, 44, 0);
        EXPECT_EQ(four.getValueInt(0, 0, 1, 1, nullptr), 33);
    }
    EXPECT_EQ(ParameterDBCollection::getInstance(4).getComponentCount(), 1u);
    deleteAll();
}
