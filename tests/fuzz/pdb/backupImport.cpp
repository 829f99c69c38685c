// Fuzz target: backup files restored into "Test" and "SnapshotInfo". A refused file changes no database; a file
// that restores is written again, and that copy restores to the same values (a fixed point). The databases are put
// back after every input.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz_PdbSetup.h"
#include "pdb_BackupFile.h"

namespace {

std::vector<std::vector<u8>> tablesOf(const std::vector<PDB::BackupFile::Entry>& entries)
{
    std::vector<std::vector<u8>> tables;
    for (const PDB::BackupFile::Entry& entry : entries) {
        tables.push_back(pdbfuzz::tableOf(*entry.database));
    }
    return tables;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const pdbfuzz::References& references = pdbfuzz::setUpCollection();
    static PDB::BackupFile* const backup = [] {
        auto* made = new PDB::BackupFile();
        const std::vector<PDB::BackupFile::Entry> entries = {
            {&pdbfuzz::testDB(), 3}, {&PDB::ParameterDBCollection::getInstance(snap_test::SNAPSHOT_INFO_ID), 0}};
        if (made->setup("Backup", 1, entries, pdbfuzz::scratch().c_str()) != 0) {
            std::abort();
        }
        return made;
    }();
    pdbfuzz::writeInput(pdbfuzz::scratch() + "/input.bkp", data, size);
    // Every input starts from the set-up: "Test" and "SnapshotInfo" hold their reference tables.
    static const std::vector<std::vector<u8>> before = {references[3], references[0]};
    const i32 result = backup->importFromFile("input.bkp");
    const std::vector<std::vector<u8>> restored = tablesOf(backup->getDatabases());
    if (result != 0) {
        if (restored != before) {
            std::abort(); // a refused file changed a database
        }
        return 0;
    }
    if (backup->exportToFile("copy.bkp") != 0 || backup->importFromFile("copy.bkp") != 0 ||
        tablesOf(backup->getDatabases()) != restored) {
        std::abort();
    }
    pdbfuzz::resetCollection(references);
    return 0;
}
