// The component types of the snapshot and preset suites and fuzz targets: the information types of "SnapshotInfo"
// and "PresetInfo", and a "Mixed" type with one block of every element encoding (one block not recallable).
// Registration is idempotent.
#pragma once

#include "compo_TestTypes.h"
#include "pdb_ComponentInfoRepository.h"
#include "pdb_PresetItem.h"

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

} // namespace snap_test
