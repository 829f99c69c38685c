// Helpers of the snapshot and preset suites: value helpers and a fixture that registers the databases
// "SnapshotInfo", "PresetInfo" and "Test" in the process-wide collection with fixed clock and file id.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "compo_TestTypes.h"
#include "fcache_MBDFTestHooks.h"
#include "os_TestHooks.h"
#include "pdb_ComponentInfoRepository.h"
#include "pdb_ParameterDBCollection.h"
#include "pdb_SimpleReadWriteMutex.h"
#include "pdb_SnapshotRecord.h"
#include "snap_Types.h"

namespace snap_test {

using namespace PDB;
using namespace compo_test;

inline u32 blockOf(IParameterDB& db, ComponentUID uid, const char* address)
{
    return db.getBlockIndex(uid, address);
}

inline i32 intAt(IParameterDB& db, ComponentUID uid, const char* address, u32 x, u32 y)
{
    return db.getValueInt(db.getComponentIndex(uid), blockOf(db, uid, address), x, y, nullptr);
}

inline u32 uintAt(IParameterDB& db, ComponentUID uid, const char* address, u32 x, u32 y)
{
    return db.getValueUInt(db.getComponentIndex(uid), blockOf(db, uid, address), x, y, nullptr);
}

inline i32 setInt(IParameterDB& db, ComponentUID uid, const char* address, u32 x, u32 y, i32 v)
{
    return db.setValueInt(db.getComponentIndex(uid), blockOf(db, uid, address), x, y, v, 0);
}

inline i32 setUInt(IParameterDB& db, ComponentUID uid, const char* address, u32 x, u32 y, u32 v)
{
    return db.setValueUInt(db.getComponentIndex(uid), blockOf(db, uid, address), x, y, v, 0);
}

inline std::string textAt(IParameterDB& db, ComponentUID uid, const char* address)
{
    KVariant v;
    db.getValue(v, db.getComponentIndex(uid), blockOf(db, uid, address), 0, 0, nullptr);
    return v.getKind() == KVariant::KIND_STRING ? v.getString() : std::string("<not text>");
}

inline std::vector<u8> bytesOf(const std::string& text)
{
    return std::vector<u8>(text.begin(), text.end());
}

inline std::vector<u8> concat(std::initializer_list<std::vector<u8>> parts)
{
    std::vector<u8> out;
    for (const auto& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

inline std::vector<u8> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<u8>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const std::vector<u8>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The record of an item over the process-wide collection.
inline std::vector<u8> snapshotRecord(const PresetItem& item, u32 headerValue = 0, bool withValues = true)
{
    std::vector<u8> out;
    if (encodeSnapshotRecord(item, ParameterDBCollection::getCollection(), out, headerValue, withValues) < 0) {
        out.clear();
    }
    return out;
}

class SnapFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        registerGain();
        registerOther();
        registerMixed();
        registerInfoTypes();
        ossupport::testhooks::fixUtcTime(FIXED_TIME);
        const u8 address[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
        FILECACHE::mbdftesthooks::fixFileIdAddress(address);
        FILECACHE::mbdftesthooks::fixFileIdTime(0x01020304);
        FILECACHE::mbdftesthooks::setFileIdGeneratorState(0x50000);

        ASSERT_EQ(ParameterDBCollection::createInstance(SNAPSHOT_INFO_ID, "SnapshotInfo", &m_Mutex, 0), 0);
        ASSERT_EQ(ParameterDBCollection::createInstance(PRESET_INFO_ID, "PresetInfo", &m_Mutex, 0), 0);
        ASSERT_EQ(ParameterDBCollection::createInstance(TEST_ID, "Test", &m_Mutex, 0), 0);
        IParameterDB& ss = snapshotInfo();
        ASSERT_EQ(ss.addComponent(1, "SSInfo", 1, 0, 0, 0), 0);
        ss.setValueString(0, blockOf(ss, 1, "/Info/Title"), 0, 0, "scene one", 0xFF);
        ss.setValueUInt(0, blockOf(ss, 1, "/Info/DataType"), 0, 0, 7, 0xFF);
        IParameterDB& ps = presetInfo();
        ASSERT_EQ(ps.addComponent(1, "PSInfo", 1, 0, 0, 0), 0);
        ASSERT_EQ(test().addComponent(GAIN_UID, "Gain", 1, 0, 0, 0), 0);
        fillGain(test(), test().getComponentIndex(GAIN_UID));

        char pattern[] = "/tmp/snap_testXXXXXX";
        const char* made = ::mkdtemp(pattern);
        ASSERT_NE(made, nullptr);
        m_Dir = made;
    }

    void TearDown() override
    {
        for (u32 i = 0; i < ParameterDBCollection::CAPACITY; ++i) {
            ParameterDBCollection::deleteInstance(i);
        }
        ossupport::testhooks::clearFixedUtcTime();
        FILECACHE::mbdftesthooks::clearFixedFileIdAddress();
        FILECACHE::mbdftesthooks::clearFixedFileIdTime();
        std::error_code ignored;
        std::filesystem::remove_all(m_Dir, ignored);
    }

    static IParameterDB& snapshotInfo() { return ParameterDBCollection::getInstance(SNAPSHOT_INFO_ID); }
    static IParameterDB& presetInfo() { return ParameterDBCollection::getInstance(PRESET_INFO_ID); }
    static IParameterDB& test() { return ParameterDBCollection::getInstance(TEST_ID); }
    std::string path(const char* name) const { return m_Dir + "/" + name; }

    SimpleReadWriteMutex m_Mutex;
    std::string m_Dir;
};

} // namespace snap_test
