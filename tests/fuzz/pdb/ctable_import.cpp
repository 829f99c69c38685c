// Fuzz target: a "#CT1" component table imported into a database with components (directly and replacing)
// and into an empty one. A refused import must leave the database byte-identical, and whatever was imported
// must export into a table that reads back the same.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "../../pdb/compo_TestTypes.h"
#include "pdb_ComponentTable.h"

namespace {

PDB::LocalParameterDB& reference()
{
    static PDB::LocalParameterDB* db = [] {
        auto* created = new PDB::LocalParameterDB();
        compo_test::buildAllTypesDB(*created);
        return created;
    }();
    return *db;
}

void importOnce(PDB::LocalParameterDB& db, const uint8_t* data, u32 size, u8 options)
{
    const std::vector<u8> before = compo_test::exportAll(db);
    const i32 checked = PDB::checkComponentTable(db, data, size, options);
    const i32 result = db.importComponentTable(data, size, options, 0xFF);
    if (checked < 0 && result != checked) {
        std::abort(); // the import and its check disagree
    }
    if (result < 0 && compo_test::exportAll(db) != before) {
        std::abort(); // a refused import changed the database
    }
    const std::vector<u8> after = compo_test::exportAll(db);
    PDB::LocalParameterDB copy;
    if (copy.importComponentTable(after.data(), static_cast<u32>(after.size()), 0x01, 0xFF) != 0 ||
        compo_test::exportAll(copy) != after) {
        std::abort(); // our own export must read back unchanged
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto limited = static_cast<u32>(size > 0x100000 ? 0x100000 : size);
    for (u8 options : {u8{0x08}, u8{0x09}, u8{0x19}}) {
        PDB::LocalParameterDB db(reference());
        importOnce(db, data, limited, options);
    }
    PDB::LocalParameterDB empty;
    importOnce(empty, data, limited, 0x01);
    return 0;
}
