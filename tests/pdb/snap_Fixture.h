// Helpers of the snapshot and preset suites: the information component types, a "Mixed" type with one block of
// every element encoding (and one block that is not recallable), and a fixture that registers the databases
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

namespace snap_test {

using namespace PDB;
using namespace compo_test;

constexpr i32 BAD_ARGUMENT = static_cast<i32>(0x80000001u);
constexpr i32 NOT_FOUND = static_cast<i32>(0x80000002u);
constexpr i32 READ_FAILED = static_cast<i32>(0x80000000u);
constexpr i32 PROTECTED = static_cast<i32>(0x80000008u);
constexpr i32 NOT_WRITTEN = static_cast<i32>(0x80000080u);
constexpr i32 MALFORMED = static_cast<i32>(0x80010000u);
constexpr i32 WRONG_FILE = static_cast<i32>(0x80020000u);
constexpr i32 NOTHING_TO_DO = static_cast<i32>(0x80080000u);
constexpr u32 WHOLE = PresetItem::WHOLE_AXIS;

constexpr u32 SNAPSHOT_INFO_ID = 7;
constexpr u32 PRESET_INFO_ID = 8;
constexpr u32 TEST_ID = 10;
constexpr ComponentUID GAIN_UID = 0x101;

// 2026-03-04 05:06:07 UTC.
constexpr i64 FIXED_TIME = 1772600767;

constexpr ParameterAttribute NOT_RECALLABLE{0, ParameterAttribute::FLAG_NONVOLATILE};

inline void registerInfoTypes()
{
    ComponentInfo ss;
    ss.initialize("SSInfo", 1, 1, 1, 1, 1, "", "", nullptr);
    ss.addParameterString("/Info/ProductName", 1, 1, "", "", 32, "", RECALLABLE, "", "", "");
    ss.addParameterString("/Info/ProductSubName", 1, 1, "", "", 32, "sub", RECALLABLE, "", "", "");
    ss.addParameterUInt32("/Info/DataType", 1, 1, "", "", 0, 100, 0, 0, 1, 1, RECALLABLE, "", "", "");
    ss.addParameterBool("/Info/Protect", 1, 1, "", "", 0, 1, 0, RECALLABLE, "", "", "");
    ss.addParameterString("/Info/Title", 1, 1, "", "", 64, "", RECALLABLE, "", "", "");
    ss.addParameterString("/Info/Comment", 1, 1, "", "", 64, "", RECALLABLE, "", "", "");
    ss.addParameterString("/Info/OwnerName", 1, 1, "", "", 64, "", RECALLABLE, "", "", "");
    ss.addParameterUInt16("/Info/TimeStamp/Year", 1, 1, "", "", 0, 9999, 0, 0, 1, 1, RECALLABLE, "", "", "");
    for (const char* address : {"/Info/TimeStamp/Month", "/Info/TimeStamp/Day", "/Info/TimeStamp/Hour",
                                "/Info/TimeStamp/Minute", "/Info/TimeStamp/Second"}) {
        ss.addParameterUInt8(address, 1, 1, "", "", 0, 255, 0, 0, 1, 1, RECALLABLE, "", "", "");
    }
    ComponentInfoRepository::getInstance().registerComponentInfo(ss);

    ComponentInfo ps;
    ps.initialize("PSInfo", 1, 1, 1, 1, 1, "", "", nullptr);
    ps.addParameterString("/Info/ProductName", 1, 1, "", "", 32, "", RECALLABLE, "", "", "");
    ps.addParameterString("/Info/ProductSubName", 1, 1, "", "", 32, "", RECALLABLE, "", "", "");
    ps.addParameterString("/Info/PresetType", 1, 1, "", "", 32, "default", RECALLABLE, "", "", "");
    ps.addParameterUInt8("/Info/Protect", 1, 1, "", "", 0, 255, 0, 0, 1, 1, RECALLABLE, "", "", "");
    ps.addParameterString("/Info/Title", 1, 1, "", "", 64, "", RECALLABLE, "", "", "");
    ps.addParameterString("/Info/Comment", 1, 1, "", "", 64, "", RECALLABLE, "", "", "");
    ps.addParameterString("/Info/OwnerName", 1, 1, "", "", 64, "", RECALLABLE, "", "", "");
    ps.addParameterUInt16("/Info/TimeStamp/Year", 1, 1, "", "", 0, 9999, 0, 0, 1, 1, RECALLABLE, "", "", "");
    for (const char* address : {"/Info/TimeStamp/Month", "/Info/TimeStamp/Day", "/Info/TimeStamp/Hour",
                                "/Info/TimeStamp/Minute", "/Info/TimeStamp/Second"}) {
        ps.addParameterUInt8(address, 1, 1, "", "", 0, 255, 0, 0, 1, 1, RECALLABLE, "", "", "");
    }
    ComponentInfoRepository::getInstance().registerComponentInfo(ps);
}

// "Mixed" 1: one block per element encoding; "/Meter" is not recallable; "/Grid" is 3 x 4.
inline void registerMixed()
{
    ComponentInfo info;
    info.initialize("Mixed", 1, 1, 1, 4, 4, "", "", nullptr);
    info.addParameterSInt32("/Level", 2, 1, "", "", -1000, 1000, 0, 0, 1, 1, RECALLABLE, "", "", "");
    info.addParameterUInt16("/Meter", 2, 1, "", "", 0, 60000, 0, 0, 1, 1, NOT_RECALLABLE, "", "", "");
    info.addParameterUInt16("/Grid", 3, 4, "", "", 0, 60000, 0, 0, 1, 1, RECALLABLE, "", "", "");
    info.addParameterString("/Name", 2, 1, "", "", 8, "", RECALLABLE, "", "", "");
    info.addParameterFloat("/Gain", 1, 1, "", "", -100.0f, 100.0f, 0.0f, 0.0f, 0.5f, 1, RECALLABLE, "", "", "");
    info.addParameterBool("/Flag", 5, 1, "", "", 0, 1, 0, RECALLABLE, "", "", "");
    info.addParameterBinary("/Raw", 1, 1, "", "", 3, RECALLABLE, "", "", "");
    info.addParameterSInt8("/S8", 2, 1, "", "", -100, 100, 0, 0, 1, 1, RECALLABLE, "", "", "");
    info.addParameterSInt16("/S16", 1, 1, "", "", -30000, 30000, 0, 0, 1, 1, RECALLABLE, "", "", "");
    info.addParameterUInt32("/U32", 1, 1, "", "", 0, 4000000000u, 0, 0, 1, 1, RECALLABLE, "", "", "");
    info.addParameterUInt8("/U8", 1, 1, "", "", 0, 255, 0, 0, 1, 1, RECALLABLE, "", "", "");
    ComponentInfoRepository::getInstance().registerComponentInfo(info);
}

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
