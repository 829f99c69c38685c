// Fuzz target: a component export ("#CI1" + "#PR1" records) read into an existing component, once as a value
// import and once rebuilding the component. A refused import must leave the component byte-identical.
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto limited = static_cast<u32>(size > 0x100000 ? 0x100000 : size);
    for (u8 filter : {u8{0x08}, u8{0x09}, u8{0x18}}) {
        for (u32 index = 0; index < 3; ++index) {
            PDB::LocalParameterDB db(reference());
            PDB::IComponent& component = db.getComponent(index);
            const std::vector<u8> before = compo_test::exportComponent(component);
            const i32 result = component.importBinary(nullptr, index, data, limited, filter, 0xFF, 0);
            if (result < 0 && compo_test::exportComponent(component) != before) {
                std::abort(); // a refused import changed the component
            }
            // Whatever was imported must export into a record that frames again.
            const std::vector<u8> after = compo_test::exportComponent(component);
            if (after.empty() || PDB::Record::frameComponentExport(after.data(), after.size(), false) != 0) {
                std::abort();
            }
        }
    }
    return 0;
}
