// The database of the change-scan benchmarks: 1000 components x 20 blocks x 16 elements (4 x 4) as database 0 of
// the process-wide collection. The last three blocks form the "@xyz" set "/3DRev/Center@xyz@x/y/z". change()
// changes 1 % of all elements, spread over the components and over every block (setsOnly false) or over the
// set's blocks alone; every write gives its element a value other than its last one.
#pragma once

#include <string>

#include "pdb_ComponentInfoRepository.h"
#include "pdb_ParameterDBCollection.h"
#include "pdb_SimpleReadWriteMutex.h"

namespace benchscan {

// An observer that does nothing.
class Observer : public PDB::IParameterDBCallback
{
public:
    i32 onParameterDBChanged() override { return 0; }
    i32 onParameterChanged() override { return 0; }
};

constexpr u32 COMPONENTS = 1000;
constexpr u32 BLOCKS = 20;
constexpr u32 SET_BLOCKS = 3; // the last three
constexpr u32 ELEMENTS = 16;  // 4 x 4
constexpr u32 CHANGED = COMPONENTS * BLOCKS * ELEMENTS / 100;
constexpr u32 DATABASE_ID = 0;

class ScanDatabase
{
public:
    ScanDatabase()
    {
        constexpr PDB::ParameterAttribute RECALLABLE{0, PDB::ParameterAttribute::FLAG_RECALLABLE};
        PDB::ComponentInfo info;
        info.initialize("ScanBench", 1, 1, 1, 1, 1, "", "", nullptr);
        for (u32 b = 0; b < BLOCKS - SET_BLOCKS; ++b) {
            info.addParameterUInt32(("/Plain/p" + std::to_string(b)).c_str(), 4, 4, "", "", 0, 1000, 0, 0, 1, 1,
                                    RECALLABLE, "", "", "");
        }
        for (const char* address : {"/3DRev/Center@xyz@x", "/3DRev/Center@xyz@y", "/3DRev/Center@xyz@z"}) {
            info.addParameterUInt32(address, 4, 4, "", "", 0, 1000, 0, 0, 1, 1, RECALLABLE, "", "", "");
        }
        PDB::ComponentInfoRepository::getInstance().registerComponentInfo(info);
        (void)PDB::ParameterDBCollection::createInstance(DATABASE_ID, "Scan", &m_mutex, 0);
        for (u32 c = 0; c < COMPONENTS; ++c) {
            get().addComponent(c + 1, "ScanBench", 1, 0, 0, 0);
        }
    }
    ~ScanDatabase() { (void)PDB::ParameterDBCollection::deleteInstance(DATABASE_ID); }
    ScanDatabase(const ScanDatabase&) = delete;
    ScanDatabase& operator=(const ScanDatabase&) = delete;

    PDB::IParameterDB& get() const { return PDB::ParameterDBCollection::getInstance(DATABASE_ID); }

    void change(bool setsOnly)
    {
        ++m_round;
        const u32 blocks = setsOnly ? SET_BLOCKS : BLOCKS;
        const u32 first = BLOCKS - blocks;
        const u32 total = COMPONENTS * blocks * ELEMENTS;
        for (u32 i = 0; i < CHANGED; ++i) {
            const u32 flat = static_cast<u32>((static_cast<u64>(i) * 7919 + m_round) % total);
            const u32 element = flat % ELEMENTS;
            get().setValueUInt(flat / (blocks * ELEMENTS), first + (flat / ELEMENTS) % blocks, element / 4, element % 4,
                               1 + m_round % 1000, 0);
        }
    }

private:
    PDB::SimpleReadWriteMutex m_mutex;
    u32 m_round = 0;
};

// The bare scan of one flag set: swapChangeFlags, then findNextChange until none is left; visit(component, block)
// for each change. Returns the number of changes.
template <typename Visit> u64 bareScan(PDB::IParameterDB& database, u32 flagSet, Visit&& visit)
{
    u64 found = 0;
    database.swapChangeFlags(flagSet);
    u32 c = 0, b = 0, x = 0, y = 0;
    while (database.findNextChange(flagSet, c, b, x, y, false) == 0) {
        ++found;
        visit(c, b);
    }
    return found;
}

} // namespace benchscan
