// Fuzz target: container images read with the database blocks registered ("#PDB DB", "#PDB PS", "#PDB SS"). Every
// block read is used as its reader would: a table is checked and imported into a copy of "Test" (a refused import
// changes nothing, an accepted one reads back the same after export), and item records are decoded and applied to
// a private copy of the collection and to a local database. The copies are made once and again only after a
// record changed them.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "fcache_MBDF.h"
#include "fuzz_PdbSetup.h"
#include "pdb_ComponentTable.h"
#include "pdb_MBDFPDBBlock.h"
#include "pdb_SnapshotRecord.h"

namespace {

const std::vector<u8>& reference()
{
    return pdbfuzz::testReference();
}

// A local copy of "Test" that is copied again only when a record changed it.
PDB::LocalParameterDB& localCopy(std::unique_ptr<PDB::LocalParameterDB>& copy)
{
    if (!copy) {
        copy.reset(new PDB::LocalParameterDB(pdbfuzz::testDB()));
    }
    return *copy;
}

void useTable(const u8* record, u32 size)
{
    static std::unique_ptr<PDB::LocalParameterDB> copies[2];
    const u8 options[2] = {0x08, 0x09};
    for (int i = 0; i < 2; ++i) {
        PDB::LocalParameterDB& db = localCopy(copies[i]);
        const i32 checked = PDB::checkComponentTable(db, record, size, options[i]);
        const i32 result = db.importComponentTable(record, size, options[i], 0xFF);
        const std::vector<u8> after = pdbfuzz::tableOf(db);
        if ((checked < 0 && result != checked) || (result < 0 && after != reference())) {
            std::abort();
        }
        if (after == reference()) {
            continue;
        }
        PDB::LocalParameterDB again;
        if (again.importComponentTable(after.data(), static_cast<u32>(after.size()), 0x01, 0xFF) != 0 ||
            pdbfuzz::tableOf(again) != after) {
            std::abort();
        }
        copies[i].reset();
    }
}

void useSnapshotRecord(const u8* record, u32 size)
{
    static std::unique_ptr<PDB::ParameterDBCollection> copy;
    if (!copy) {
        copy.reset(new PDB::ParameterDBCollection(PDB::ParameterDBCollection::getCollection()));
    }
    PDB::PresetItem item;
    PDB::decodeSnapshotRecord(item, *copy, record, size, true);
    // A record writes into the database it names at most: when that one changed, the copy is made again.
    const PDB::IParameterDB* named = PDB::findDatabaseByName(*copy, item.getDatabaseName().c_str());
    if (named != nullptr) {
        const PDB::IParameterDB* original =
            PDB::findDatabaseByName(PDB::ParameterDBCollection::getCollection(), item.getDatabaseName().c_str());
        if (original == nullptr || pdbfuzz::tableOf(*named) != pdbfuzz::tableOf(*original)) {
            copy.reset();
        }
    }
}

void usePresetRecord(const u8* record, u32 size)
{
    static std::unique_ptr<PDB::LocalParameterDB> copy;
    PDB::LocalParameterDB& local = localCopy(copy);
    PDB::PresetItem item;
    for (PDB::ComponentUID uid : {PDB::ComponentUID{0x101}, PDB::ComponentUID{0x201}, PDB::ComponentUID{0x301}}) {
        PDB::decodePresetRecord(item, &local, uid, record, size, true);
    }
    if (pdbfuzz::tableOf(local) != reference()) {
        copy.reset();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    pdbfuzz::setUpCollection();
    PDB::MBDFPDBBlock::registerFactory();
    PDB::MBDFPDBPSBlock::registerFactory();
    PDB::MBDFPDBSSBlock::registerFactory();
    FILECACHE::MBDF container;
    if (container.readFromMemory(data, static_cast<u32>(size > 0x100000 ? 0x100000 : size)) < 0) {
        return 0;
    }
    for (auto it = container.beginBlocks(); it != container.endBlocks(); ++it) {
        FILECACHE::MBDFAbstractBlock* block = container.getBlock(it);
        const u8* record = block->getData();
        const u32 recordSize = block->getDataSize(false);
        if (record == nullptr || !block->isValid()) {
            continue;
        }
        if (dynamic_cast<PDB::MBDFPDBBlock*>(block) != nullptr) {
            useTable(record, recordSize);
        } else if (dynamic_cast<PDB::MBDFPDBSSBlock*>(block) != nullptr) {
            useSnapshotRecord(record, recordSize);
        } else if (dynamic_cast<PDB::MBDFPDBPSBlock*>(block) != nullptr) {
            usePresetRecord(record, recordSize);
        }
    }
    return 0;
}
