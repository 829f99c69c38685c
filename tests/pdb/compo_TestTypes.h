// Component types and builders shared by the component, local-database and component-table suites and the
// record fuzz targets. Registration is idempotent (the repository keeps the first description of a key).
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "pdb_ComponentInfo.h"
#include "pdb_ComponentInfoRepository.h"
#include "pdb_LocalParameterDB.h"

namespace compo_test {

using namespace PDB;

constexpr ParameterAttribute RECALLABLE{0, ParameterAttribute::FLAG_RECALLABLE | ParameterAttribute::FLAG_NONVOLATILE};

// "Gain" 1: dimensions 1..4, "/Level" SINT32 4 x 2, "/Mute" UINT8 3 x 1, defaults 0.
inline const ComponentInfo& registerGain()
{
    ComponentInfo info;
    info.initialize("Gain", 1, 1, 1, 4, 4, "", "", nullptr);
    info.addParameterSInt32("/Level", 4, 2, "", "", -1000, 1000, 0, 0, 1, 1, RECALLABLE, "", "", "");
    info.addParameterUInt8("/Mute", 3, 1, "", "", 0, 255, 0, 0, 1, 1, RECALLABLE, "", "", "");
    ComponentInfoRepository::getInstance().registerComponentInfo(info);
    return ComponentInfoRepository::getInstance().findComponentInfo("Gain", 1);
}

// "Other" 1: a different type with the same block layout as "Gain".
inline const ComponentInfo& registerOther()
{
    ComponentInfo info;
    info.initialize("Other", 1, 1, 1, 4, 4, "", "", nullptr);
    info.addParameterSInt32("/Level", 4, 2, "", "", -1000, 1000, 0, 0, 1, 1, RECALLABLE, "", "", "");
    info.addParameterUInt8("/Mute", 3, 1, "", "", 0, 255, 0, 0, 1, 1, RECALLABLE, "", "", "");
    ComponentInfoRepository::getInstance().registerComponentInfo(info);
    return ComponentInfoRepository::getInstance().findComponentInfo("Other", 1);
}

constexpr u32 MULTIPLY = 0x10000000;

// "AllTypes" 2: one block of each of the ten type codes with odd counts, most of them following the component's
// X dimension (1..5, Y 1..3), a STRING of capacity 10 and a BINARY of capacity 7.
inline const ComponentInfo& registerAllTypes()
{
    ComponentInfo info;
    info.initialize("AllTypes", 2, 1, 1, 5, 3, "", "", nullptr);
    info.addParameterUInt8("/u8", MULTIPLY | 3, 1, "", "", 0, 200, 5, 0, 1, 1, RECALLABLE, "", "", "");
    info.addParameterUInt16("/u16", MULTIPLY | 1, MULTIPLY | 1, "", "", 0, 60000, 7, 0, 1, 1, RECALLABLE, "", "", "");
    info.addParameterUInt32("/u32", 3, 1, "", "", 0, 4000000000u, 9, 0, 1, 1, RECALLABLE, "", "", "");
    info.addParameterSInt8("/s8", MULTIPLY | 1, 3, "", "", -100, 100, -3, 0, 1, 1, RECALLABLE, "", "", "");
    info.addParameterSInt16("/s16", 5, 1, "", "", -30000, 30000, -4, 0, 1, 1, RECALLABLE, "", "", "");
    info.addParameterSInt32("/s32", 1, MULTIPLY | 1, "", "", -2000000, 2000000, -5, 0, 1, 1, RECALLABLE, "", "", "");
    info.addParameterFloat("/f", 3, 1, "", "", -10.0f, 10.0f, 0.5f, 0.0f, 0.1f, 1, RECALLABLE, "", "", "");
    info.addParameterBool("/b", MULTIPLY | 13, 1, "", "", 0, 1, 1, RECALLABLE, "", "", "");
    info.addParameterString("/str", 3, 1, "", "", 10, "abc", RECALLABLE, "", "", "");
    info.addParameterBinary("/bin", 1, 3, "", "", 7, RECALLABLE, "", "", "");
    ComponentInfoRepository::getInstance().registerComponentInfo(info);
    return ComponentInfoRepository::getInstance().findComponentInfo("AllTypes", 2);
}

// Fills the "Gain" component at index of db as the reference export expects.
inline void fillGain(IParameterDB& db, u32 index)
{
    db.setComponentName(index, "In1");
    db.setComponentUserValue(index, 0x12345);
    db.setValueInt(index, 0, 1, 0, -2, 0);
    db.setValueInt(index, 0, 2, 1, 7, 0);
    db.setValueUInt(index, 1, 0, 0, 1, 0);
    db.setValueUInt(index, 1, 1, 0, 0, 0);
    db.setValueUInt(index, 1, 2, 0, 255, 0);
}

// The reference database: uid 0x102 at position 0 (defaults), the filled uid 0x101 at position 1.
inline void buildReferenceDB(LocalParameterDB& db)
{
    registerGain();
    db.addComponent(0x102, "Gain", 1, 0, 0, 0);
    db.addComponent(0x101, "Gain", 1, 0, 0, 0);
    fillGain(db, 1);
}

// A database with every value of every "AllTypes" block set to something other than its default, resized
// away from the minimum dimensions.
inline void buildAllTypesDB(LocalParameterDB& db)
{
    registerAllTypes();
    registerGain();
    db.addComponent(0x201, "AllTypes", 2, 3, 2, 0);
    db.addComponent(0x202, "AllTypes", 2, 0, 0, 0);
    db.addComponent(0x203, "Gain", 1, 0, 0, 0);
    fillGain(db, 2);
    const u32 index = db.getComponentIndex(0x201);
    for (u32 block = 0; block < db.getBlockCount(index); ++block) {
        const ParameterInfo* info = db.getParameterInfo(index, block);
        for (u32 x = 0; x < info->getCountX(); ++x) {
            for (u32 y = 0; y < info->getCountY(); ++y) {
                const u32 n = x * 7 + y + block + 1;
                switch (info->getTypeCode() >> 4) {
                case 1:
                    db.setValueUInt(index, block, x, y, n * 3, 0);
                    break;
                case 2:
                    db.setValueInt(index, block, x, y, -static_cast<i32>(n), 0);
                    break;
                case 3:
                    db.setValueFloat(index, block, x, y, 0.25f * static_cast<f32>(n), 0);
                    break;
                case 4:
                    db.setValueBool(index, block, x, y, (n & 1) != 0, 0);
                    break;
                case 5:
                    db.setValueString(index, block, x, y, (x & 1) != 0 ? "0123456789" : "hi", 0);
                    break;
                case 6: {
                    const u8 bytes[7] = {1, 2, 3, static_cast<u8>(n), 5, 6, 0xEE};
                    db.setValueBinary(index, block, x, y, bytes, 7, 0);
                    break;
                }
                default:
                    break;
                }
            }
        }
    }
}

inline std::vector<u8> exportAll(const IParameterDB& db, u32 header = 7)
{
    std::vector<u8> bytes(db.getComponentTableSize());
    if (db.exportComponentTable(bytes.data(), static_cast<u32>(bytes.size()), header) < 0) {
        bytes.clear();
    }
    return bytes;
}

inline std::vector<u8> exportComponent(const IComponent& component)
{
    std::vector<u8> bytes(component.getExportSize());
    if (component.exportBinary(bytes.data(), static_cast<u32>(bytes.size())) < 0) {
        bytes.clear();
    }
    return bytes;
}

inline std::vector<u8> hexBytes(const char* text)
{
    std::vector<u8> bytes;
    for (const char* p = text; *p != '\0';) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        bytes.push_back(static_cast<u8>(std::stoul(std::string(p, 2), nullptr, 16)));
        p += 2;
    }
    return bytes;
}

} // namespace compo_test
