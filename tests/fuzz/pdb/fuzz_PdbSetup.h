// Set-up shared by the database file fuzz targets, done once per process: a scratch folder (removed at exit), file
// syncs turned off through the file API's seam (the targets write many small files), and the process-wide
// collection with "SnapshotInfo" (7), "PresetInfo" (8), "ProjectInfo" (9) and "Test" (10), the last holding
// "AllTypes" (uids 0x201, 0x202), "Gain" (0x203, 0x101) and "Mixed" (0x301) components with values off their
// defaults. A target that changes the databases puts them back with resetCollection.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../../pdb/compo_TestTypes.h"
#include "../../pdb/project_TestUtil.h"
#include "../../pdb/snap_Types.h"
#include "fsw_SystemCalls.h"
#include "pdb_ParameterDBCollection.h"
#include "vdtest_Support.h"

namespace pdbfuzz {

using namespace PDB;

// In memory where the system has a memory file system: the targets write a few files per input.
inline const std::string& scratch()
{
    static vdtest::ScratchDir* const dir = [] {
        static vdtest::ScratchDir made(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
        if (made.path().empty()) {
            std::abort();
        }
        return &made;
    }();
    return dir->path();
}

inline void writeInput(const std::string& path, const uint8_t* data, size_t size)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::abort();
    }
    if (size != 0 && std::fwrite(data, 1, size, file) != size) {
        std::abort();
    }
    std::fclose(file);
}

inline IParameterDB& testDB()
{
    return ParameterDBCollection::getInstance(snap_test::TEST_ID);
}

// The whole "#CT1" table of a database.
inline std::vector<u8> tableOf(const IParameterDB& db)
{
    return compo_test::exportAll(db);
}

constexpr u32 DATABASE_IDS[] = {snap_test::SNAPSHOT_INFO_ID, snap_test::PRESET_INFO_ID, project_test::INFO_DB_ID,
                                snap_test::TEST_ID};

// The tables of the four databases as set up, in the order of DATABASE_IDS.
using References = std::vector<std::vector<u8>>;

// Puts every database of the set-up back to its reference table (components and values).
inline void resetCollection(const References& references)
{
    for (size_t i = 0; i < references.size(); ++i) {
        IParameterDB& db = ParameterDBCollection::getInstance(DATABASE_IDS[i]);
        if (db.importComponentTable(references[i].data(), static_cast<u32>(references[i].size()), 0x09, 0xFF) != 0) {
            std::abort();
        }
        db.releaseAllOfThisThread();
    }
}

// The once-per-process set-up; returns the reference tables.
inline const References& setUpCollection()
{
    static const References references = [] {
        static const auto noSync = [](int) { return 0; };
        fsw_setSystemCalls(nullptr, nullptr, +noSync);
        compo_test::registerGain();
        compo_test::registerAllTypes();
        snap_test::registerMixed();
        snap_test::registerInfoTypes();
        project_test::setupProjectInfo();
        if (ParameterDBCollection::createInstance(snap_test::SNAPSHOT_INFO_ID, "SnapshotInfo", nullptr, 0) != 0 ||
            ParameterDBCollection::createInstance(snap_test::PRESET_INFO_ID, "PresetInfo", nullptr, 0) != 0 ||
            ParameterDBCollection::createInstance(snap_test::TEST_ID, "Test", nullptr, 0) != 0) {
            std::abort();
        }
        ParameterDBCollection::getInstance(snap_test::SNAPSHOT_INFO_ID).addComponent(1, "SSInfo", 1, 0, 0, 0);
        ParameterDBCollection::getInstance(snap_test::PRESET_INFO_ID).addComponent(1, "PSInfo", 1, 0, 0, 0);
        // The values of a filled local copy become those of the shared "Test".
        LocalParameterDB local;
        compo_test::buildAllTypesDB(local);
        local.addComponent(0x301, "Mixed", 1, 2, 2, 0);
        local.addComponent(snap_test::GAIN_UID, "Gain", 1, 0, 0, 0);
        compo_test::fillGain(local, local.getComponentIndex(snap_test::GAIN_UID));
        const std::vector<u8> table = tableOf(local);
        if (testDB().importComponentTable(table.data(), static_cast<u32>(table.size()), 0x09, 0xFF) != 0) {
            std::abort();
        }
        References made;
        for (u32 id : DATABASE_IDS) {
            ParameterDBCollection::getInstance(id).releaseAllOfThisThread();
            made.push_back(tableOf(ParameterDBCollection::getInstance(id)));
        }
        return made;
    }();
    return references;
}

// The reference table of "Test".
inline const std::vector<u8>& testReference()
{
    return setUpCollection().back();
}

} // namespace pdbfuzz
