#include "dadov_Config.h"

#include <new>

#include "dadov_ManagerAccessor.h"
#include "dadov_Result.h"
#include "pdb_NullMutex.h"
#include "pdb_ParameterDBCollection.h"

namespace DADOV {

namespace {

constexpr u32 COMPONENT_DATABASE = 10;

PDB::IParameterDB& componentDatabase()
{
    return PDB::ParameterDBCollection::getInstance(COMPONENT_DATABASE);
}

} // namespace

i32 addPDBComponent(u32 uid, const char* typeName, u32 majorVersion, u32 numX, u32 numY, i16 flags)
{
    if (typeName == nullptr) {
        return DADOV_E_FAILED;
    }
    const PDB::ComponentUID componentUid = uid;
    return componentDatabase().addComponent(componentUid, typeName, majorVersion, numX, numY, flags) < 0
               ? DADOV_E_FAILED
               : DADOV_OK;
}

VEXADManagerAccessor* createManagerAccessor(u32 uid, u32 numX, u32 numY, PARRAY::ArrayAccessorForServer* arrays,
                                            MeterPool* meters)
{
    PDB::IParameterDB& database = componentDatabase();
    const PDB::ComponentUID componentUid = uid;
    VEXADManagerAccessor* accessor = nullptr;
    {
        PDB::ReadLock lock(database);
        const u32 index = database.getComponentIndex(componentUid);
        const PDB::ComponentInfo* info = database.getComponentInfo(index);
        if (info == nullptr) {
            return nullptr;
        }
        accessor = new (std::nothrow) VEXADManagerAccessor(&database, index);
        if (accessor == nullptr) {
            return nullptr;
        }
        if (accessor->setup(*info, uid, numX, numY, arrays, meters) < 0) {
            delete accessor;
            return nullptr;
        }
    }
    database.reserveComponent(componentUid);
    return accessor;
}

void destroyManagerAccessor(VEXADManagerAccessor* accessor)
{
    if (accessor == nullptr) {
        return;
    }
    const PDB::ComponentUID componentUid = accessor->getUniqID();
    componentDatabase().releaseComponent(componentUid);
    accessor->teardown();
    delete accessor;
}

} // namespace DADOV
