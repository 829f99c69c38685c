#include "dadov_Config.h"

#include "dadov_Result.h"
#include "pdb_ParameterDBCollection.h"
#include "pdb_ParameterDBNULL.h"

namespace DADOV {

namespace {
constexpr u32 COMPONENT_DATABASE = 10;
} // namespace

i32 addPDBComponent(u32 uid, const char* typeName, u32 majorVersion, u32 numX, u32 numY, i16 flags)
{
    if (typeName == nullptr) {
        return DADOV_E_FAILED;
    }
    PDB::ParameterDBCollection& collection = PDB::ParameterDBCollection::getCollection();
    PDB::IParameterDB& database = collection.getSize() > COMPONENT_DATABASE ? collection.getEntry(COMPONENT_DATABASE)
                                                                            : PDB::ParameterDBNULL::getInstance();
    const PDB::ComponentUID componentUid = uid;
    return database.addComponent(componentUid, typeName, majorVersion, numX, numY, flags) < 0 ? DADOV_E_FAILED
                                                                                              : DADOV_OK;
}

} // namespace DADOV
