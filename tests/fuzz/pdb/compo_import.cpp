// Fuzz target: a component export ("#CI1" + "#PR1" records) read into an existing component, once as a value
// import and once rebuilding the component. A refused import must leave the component byte-identical, and
// whatever was imported must export into a record that frames again. The database is built once; a changed
// component is rebuilt from its own export, which is itself a round-trip check.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "../../pdb/compo_TestTypes.h"
#include "pdb_ComponentTable.h"

namespace {

const PDB::LocalParameterDB& reference()
{
    static PDB::LocalParameterDB* const db = [] {
        auto* created = new PDB::LocalParameterDB();
        compo_test::buildAllTypesDB(*created);
        return created;
    }();
    return *db;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static std::unique_ptr<PDB::LocalParameterDB> db;
    static std::vector<u8> exports[3];
    const auto limited = static_cast<u32>(size > 0x100000 ? 0x100000 : size);
    for (u8 filter : {u8{0x08}, u8{0x09}, u8{0x18}}) {
        for (u32 index = 0; index < 3; ++index) {
            if (!db) {
                db.reset(new PDB::LocalParameterDB(reference()));
                for (u32 i = 0; i < 3; ++i) {
                    exports[i] = compo_test::exportComponent(db->getComponent(i));
                }
            }
            PDB::IComponent& component = db->getComponent(index);
            const i32 result = component.importBinary(nullptr, index, data, limited, filter, 0xFF, 0);
            const std::vector<u8> after = compo_test::exportComponent(component);
            if (result < 0) {
                if (after != exports[index]) {
                    std::abort(); // a refused import changed the component
                }
                continue;
            }
            // Whatever was imported must export into a record that frames again.
            if (after.empty() || PDB::Record::frameComponentExport(after.data(), after.size(), false) != 0) {
                std::abort();
            }
            // Changed: the component is rebuilt from its own export, which must give it back byte for byte.
            const std::vector<u8>& original = exports[index];
            if (component.importBinary(nullptr, index, original.data(), static_cast<u32>(original.size()), 0x09, 0xFF,
                                       0) != 0 ||
                compo_test::exportComponent(component) != original) {
                std::abort();
            }
        }
    }
    return 0;
}
