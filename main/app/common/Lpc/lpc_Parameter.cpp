#include "lpc_Parameter.h"

#include "lpc_PDBLink.h"
#include "pdb_ParameterDBCollection.h"
#include "pyrite_Result.h"

namespace LPC {

PDB::IParameterDB& getComponentDB()
{
    return PDB::ParameterDBCollection::getInstance(COMPONENT_DB_ID);
}

u32 setParameterValue(u32 componentId, const char* address, u32 x, u32 y, const KVariant& value, i32 status)
{
    if (address == nullptr) {
        return PYRITE::PYRITE_E_FAILED;
    }
    PDB::IParameterDB& database = getComponentDB();
    PDB::ParameterAddress resolved = database.resolveAddress(PDB::ComponentUID(componentId), address);
    if (!resolved.isValid()) {
        return PYRITE::PYRITE_E_FAILED;
    }
    const i32 result = database.setValue(resolved, x, y, value, static_cast<u8>(status));
    if (result < 0) {
        return static_cast<u32>(result);
    }
    PDBLink* link = getPDBLink();
    return link != nullptr ? link->onParameterWritten(resolved, x, y) : 0;
}

} // namespace LPC
