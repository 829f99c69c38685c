// Fuzz target: a "#CT1" component table imported into the shared database ("Test" of the collection), as a value
// import and replacing. A refused import leaves the database byte-identical; an accepted one exports a table that
// reads back the same into a local database.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz_PdbSetup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const pdbfuzz::References& references = pdbfuzz::setUpCollection();
    const std::vector<u8>& reference = pdbfuzz::testReference();
    const auto limited = static_cast<u32>(size > 0x100000 ? 0x100000 : size);
    PDB::IParameterDB& db = pdbfuzz::testDB();
    for (u8 options : {u8{0x08}, u8{0x09}}) {
        const i32 result = db.importComponentTable(data, limited, options, 0xFF);
        db.releaseAllOfThisThread();
        const std::vector<u8> after = pdbfuzz::tableOf(db);
        if (result < 0) {
            if (after != reference) {
                std::abort(); // a refused import changed the database
            }
            continue;
        }
        PDB::LocalParameterDB copy;
        if (copy.importComponentTable(after.data(), static_cast<u32>(after.size()), 0x01, 0xFF) != 0 ||
            pdbfuzz::tableOf(copy) != after) {
            std::abort(); // what the database holds must read back unchanged
        }
        pdbfuzz::resetCollection(references);
    }
    return 0;
}
