// Fuzz target: a "#CT1" component table imported into a database with components (directly and replacing) and
// into an empty one. A refused import must leave the database byte-identical, and whatever was imported must
// export into a table that reads back the same. The databases are built once; one is copied again only after an
// import changed it.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "../../pdb/compo_TestTypes.h"
#include "pdb_ComponentTable.h"

namespace {

struct Target
{
    PDB::LocalParameterDB db;
    std::vector<u8> table; // the database's export while it is unchanged
};

const PDB::LocalParameterDB& reference()
{
    static PDB::LocalParameterDB* const db = [] {
        auto* created = new PDB::LocalParameterDB();
        compo_test::buildAllTypesDB(*created);
        return created;
    }();
    return *db;
}

void importOnce(std::unique_ptr<Target>& target, const PDB::LocalParameterDB& origin, const uint8_t* data, u32 size,
                u8 options)
{
    if (!target) {
        target.reset(new Target{PDB::LocalParameterDB(origin), {}});
        target->table = compo_test::exportAll(target->db);
    }
    PDB::LocalParameterDB& db = target->db;
    const i32 checked = PDB::checkComponentTable(db, data, size, options);
    const i32 result = db.importComponentTable(data, size, options, 0xFF);
    if (checked < 0 && result != checked) {
        std::abort(); // the import and its check disagree
    }
    const std::vector<u8> after = compo_test::exportAll(db);
    if (result < 0) {
        if (after != target->table) {
            std::abort(); // a refused import changed the database
        }
        return;
    }
    PDB::LocalParameterDB copy;
    if (copy.importComponentTable(after.data(), static_cast<u32>(after.size()), 0x01, 0xFF) != 0 ||
        compo_test::exportAll(copy) != after) {
        std::abort(); // our own export must read back unchanged
    }
    target.reset(); // changed: the next input starts from a fresh copy
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static std::unique_ptr<Target> filled[3];
    static std::unique_ptr<Target> empty;
    static const PDB::LocalParameterDB none;
    const auto limited = static_cast<u32>(size > 0x100000 ? 0x100000 : size);
    const u8 options[3] = {0x08, 0x09, 0x19};
    for (int i = 0; i < 3; ++i) {
        importOnce(filled[i], reference(), data, limited, options[i]);
    }
    importOnce(empty, none, data, limited, 0x01);
    return 0;
}
