// The null database, the null mutex and the scoped lock holders.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "pdb_ComponentInfoRepository.h"
#include "pdb_ComponentNULL.h"
#include "pdb_NullMutex.h"
#include "pdb_ParameterArray.h"
#include "pdb_ParameterDBNULL.h"

using namespace PDB;

TEST(ParameterDBNULL, AnswersEveryOperation)
{
    ParameterDBNULL& db = ParameterDBNULL::getInstance();
    const IParameterDB& cdb = db;
    ParameterAddress address;
    ASSERT_EQ(address.setTexts("Profile", 1, "/A"), 0);
    LocalParameterArray array;
    ComponentUIDList uids = {1, 2};
    ComponentInfo info;
    u32 c = 5, b = 5, x = 5, y = 5;
    u8 status = 0;
    KVariant value(7u);
    auto emptied = [&](i32 result) {
        const bool ok = result == 0 && !value.isValid();
        value = 7u;
        return ok;
    };
    auto noStatus = [&](bool answer) {
        const bool ok = answer && status == 0xFF;
        status = 0;
        return ok;
    };
    const ParameterAddress none;
    auto isEmptyRecord = [&](const ParameterAddress& r) {
        return r.getDatabaseId() == none.getDatabaseId() && r.getBlockIndex() == none.getBlockIndex() &&
               r.getHash() == 0 && !r.hasTexts();
    };
    const IComponent* nullComponent = &ComponentNULL::getInstance();
    const std::vector<u32> indices = {0};
    u8 record[16] = {};
    u8 buffer[64] = {};

    struct Row
    {
        const char* operation;
        std::function<bool()> answer;
    };
    const std::vector<Row> table = {
        {"lock operations",
         [&] { return db.lockRead() == 0 && db.unlockRead() == 0 && db.lockWrite() == 0 && db.unlockWrite() == 0; }},
        {"clear, removeAllComponents", [&] { return db.clear() == 0 && db.removeAllComponents() == 0; }},
        {"hasOwnerThread", [&] { return !db.hasOwnerThread(); }},
        {"getDBId", [&] { return db.getDBId() == 0; }},
        {"getName", [&] { return std::strcmp(db.getName(), "(dummy)") == 0; }},
        {"registerCallback", [&] { return db.registerCallback(1, nullptr, ParameterFilter(1)) == 0; }},
        {"getCallbackIndex", [&] { return db.getCallbackIndex(1) == 0xFFFFFFFF; }},
        {"swapChangeFlags, clearChangeFlags, refreshAllValues",
         [&] { return db.swapChangeFlags(0) == 0 && db.clearChangeFlags(0) == 0 && db.refreshAllValues(0) == 0; }},
        {"findNextChange ends a scan",
         [&] { return db.findNextChange(0, c, b, x, y, false) == 0x200000 && c == 5 && b == 5; }},
        {"generateComponentUID", [&] { return db.generateComponentUID() == INVALID_COMPONENT_UID; }},
        {"addComponent, removeComponent",
         [&] {
             return db.addComponent(1, info) == 0 && db.addComponent(1, "T", 1, 1, 1, 0) == 0 &&
                    db.removeComponent(1) == 0;
         }},
        {"reservations",
         [&] {
             return db.reserveAllComponents() == 0 && db.reserveComponent(1) == 0 && db.releaseAllOfThisThread() == 0 &&
                    db.releaseComponent(1) == 0 && !db.hasReservedComponents() && !db.isReserved(1);
         }},
        {"getAddedComponents", [&] { return db.getAddedComponents(uids) == 0 && uids.empty(); }},
        {"getRemovedComponents",
         [&] {
             uids = {3};
             return db.getRemovedComponents(uids) == 0 && uids.empty();
         }},
        {"resolveAddress",
         [&] { return isEmptyRecord(db.resolveAddress(c, b)) && isEmptyRecord(db.resolveAddress(1, "/A")); }},
        {"getComponentIndex, getBlockIndex",
         [&] { return db.getComponentIndex(1) == 0xFFFFFFFF && db.getBlockIndex(1, "/A") == 0xFFFFFFFF; }},
        {"counts",
         [&] { return db.getComponentCount() == 0 && db.getComponentSlotCount() == 0 && db.getBlockCount(0) == 0; }},
        {"component setters",
         [&] {
             return db.setComponentName(0, "n") == 0 && db.setComponentUserValue(0, 1) == 0 &&
                    db.setComponentDimensions(0, 1, 1, 1, 0) == 0;
         }},
        {"getComponentInfo", [&] { return db.getComponentInfo(0) == &getEmptyComponentInfo(); }},
        {"getComponentTypeName", [&] { return std::strcmp(db.getComponentTypeName(0), "(dummy component)") == 0; }},
        {"getComponentName", [&] { return std::strcmp(db.getComponentName(0), "") == 0; }},
        {"getComponentUID", [&] { return db.getComponentUID(0) == INVALID_COMPONENT_UID; }},
        {"component numbers",
         [&] {
             return db.getComponentVersion(0) == 0 && db.getComponentNumber(0) == 0 && db.getComponentUserValue(0) == 0;
         }},
        {"getParameterInfo",
         [&] {
             const ParameterInfo* p = db.getParameterInfo(0, 0);
             return p != nullptr && p == db.getParameterInfo(address) && p->getAddress() == "<unknown>";
         }},
        {"writes",
         [&] {
             return db.setValue(address, 0, 0, value, 0) == 0 && db.setValue(0, 0, 0, 0, value, 0) == 0 &&
                    db.setArray(address, array, 0) == 0 && db.setArray(0, 0, array, 0) == 0 &&
                    db.setValueUInt(address, 0, 0, 1, 0) == 0 && db.setValueUInt(0, 0, 0, 0, 1, 0) == 0 &&
                    db.setValueInt(address, 0, 0, 1, 0) == 0 && db.setValueInt(0, 0, 0, 0, 1, 0) == 0 &&
                    db.setValueFloat(address, 0, 0, 1, 0) == 0 && db.setValueFloat(0, 0, 0, 0, 1, 0) == 0 &&
                    db.setValueBool(address, 0, 0, true, 0) == 0 && db.setValueBool(0, 0, 0, 0, true, 0) == 0 &&
                    db.setValueString(address, 0, 0, "t", 0) == 0 && db.setValueString(0, 0, 0, 0, "t", 0) == 0 &&
                    db.setValueBinary(address, 0, 0, "t", 1, 0) == 0 && db.setValueBinary(0, 0, 0, 0, "t", 1, 0) == 0 &&
                    db.setBlockToDefault(address, 0) == 0 && db.setToDefault(address, 0, 0, 0) == 0 &&
                    db.setAllToDefault(0, 0) == 0 && db.setBlockToDefault(0, 0, 0) == 0 &&
                    db.setToDefault(0, 0, 0, 0, 0) == 0 && db.setElementStatus(address, 0, 0, 1) == 0 &&
                    db.setElementStatus(0, 0, 0, 0, 1) == 0;
         }},
        {"getValue",
         [&] {
             return emptied(cdb.getValue(value, address, 0, 0, &status)) && noStatus(true) &&
                    emptied(cdb.getValue(value, 0, 0, 0, 0, &status)) && noStatus(true) &&
                    emptied(cdb.getValue(value, 0, 0, 0, 0, nullptr));
         }},
        {"getValueString",
         [&] {
             return emptied(cdb.getValueString(value, address, 0, 0)) && emptied(cdb.getValueString(value, 0, 0, 0, 0));
         }},
        {"getArray", [&] { return cdb.getArray(array, address) == 0 && cdb.getArray(array, 0, 0) == 0; }},
        {"typed reads",
         [&] {
             return noStatus(cdb.getValueUInt(address, 0, 0, &status) == 0) &&
                    noStatus(cdb.getValueUInt(0, 0, 0, 0, &status) == 0) &&
                    noStatus(cdb.getValueInt(address, 0, 0, &status) == 0) &&
                    noStatus(cdb.getValueInt(0, 0, 0, 0, &status) == 0) &&
                    noStatus(cdb.getValueFloat(address, 0, 0, &status) == 0.0f) &&
                    noStatus(cdb.getValueFloat(0, 0, 0, 0, &status) == 0.0f) &&
                    noStatus(!cdb.getValueBool(address, 0, 0, &status)) &&
                    noStatus(!cdb.getValueBool(0, 0, 0, 0, &status)) && cdb.getValueUInt(0, 0, 0, 0, nullptr) == 0;
         }},
        {"isChanged", [&] { return !cdb.isChanged(0, address, 0, 0) && !cdb.isChanged(0, 0, 0, 0, 0); }},
        {"getElementStatus",
         [&] { return cdb.getElementStatus(address, 0, 0) == 0xFF && cdb.getElementStatus(0, 0, 0, 0) == 0xFF; }},
        {"isValidIndex", [&] { return !cdb.isValidIndex(address, 0, 0) && !cdb.isValidIndex(0, 0, 0, 0); }},
        {"copies",
         [&] {
             return db.copyBlockFrom(address, db, ParameterFilter(8), 0) == 0 &&
                    db.copyBlockFrom(0, 0, db, ParameterFilter(8), 0) == 0 &&
                    db.copyComponentFrom(0, db, ParameterFilter(8), 0) == 0 &&
                    db.copyAllFrom(db, ParameterFilter(8), 0) == 0;
         }},
        {"component table",
         [&] {
             return cdb.exportComponentTable(buffer, sizeof buffer, 1, indices) == 0 &&
                    cdb.exportComponentTable(buffer, sizeof buffer, 1, ComponentUIDList{1}) == 0 &&
                    cdb.exportComponentTable(buffer, sizeof buffer, 1) == 0 &&
                    cdb.getComponentTableSize(indices) == 0 && cdb.getComponentTableSize(ComponentUIDList{1}) == 0 &&
                    cdb.getComponentTableSize() == 0 &&
                    db.importComponentTable(record, sizeof record, ParameterFilter(1), 0) == 0 && buffer[0] == 0;
         }},
        {"strategy and recall",
         [&] {
             return db.suppressStrategy() == 0 && !db.isStrategySuppressed() && db.resumeStrategy() == 0 &&
                    db.beginRecall() == 0 && !db.isRecalling() && db.endRecall() == 0;
         }},
        {"getComponent",
         [&] {
             return &cdb.getComponent(0) == nullComponent && &db.getComponent(7) == nullComponent &&
                    &ComponentInfoRepository::getNullComponent() == nullComponent;
         }},
    };
    for (const Row& row : table) {
        EXPECT_TRUE(row.answer()) << row.operation;
    }
    EXPECT_EQ(&ParameterDBNULL::getInstance(), &db);
}

TEST(ParameterDBNULL, MutexAndScopedLocks)
{
    NullMutex& null = NullMutex::getInstance();
    EXPECT_EQ(&NullMutex::getInstance(), &null);
    EXPECT_EQ(null.lockRead(), 0);
    EXPECT_EQ(null.unlockRead(), 0);
    EXPECT_EQ(null.lockWrite(), 0);
    EXPECT_EQ(null.unlockWrite(), 0);

    class RecordingMutex : public IMutex
    {
    public:
        std::string calls;
        i32 lockRead() override { return calls += "r", 0; }
        i32 unlockRead() override { return calls += "R", 0; }
        i32 lockWrite() override { return calls += "w", 0; }
        i32 unlockWrite() override { return calls += "W", 0; }
    };
    RecordingMutex mutex;
    {
        ReadLock outer(mutex);
        EXPECT_EQ(mutex.calls, "r");
        {
            WriteLock inner(mutex);
            EXPECT_EQ(mutex.calls, "rw");
        }
        EXPECT_EQ(mutex.calls, "rwW");
    }
    EXPECT_EQ(mutex.calls, "rwWR");
    {
        ReadLock onNull(null);
        WriteLock again(null);
    }
}
