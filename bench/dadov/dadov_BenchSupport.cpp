#include "dadov_BenchSupport.h"

#include <string>

#include "klib_Types.h"
#include "logic_LogicComponentCollection.h"
#include "os_Tasks.h"
#include "pdb_ParameterDBCollection.h"
#include "pdb_ParameterDBNULL.h"
#include "pdb_SimpleReadWriteMutex.h"

namespace dadovbench {

void startEngine()
{
    static PDB::SimpleReadWriteMutex locks[11];
    static const bool started = [] {
        ossupport::initialize();
        for (u32 id = 0; id <= 10; ++id) {
            if (&PDB::ParameterDBCollection::getInstance(id) == &PDB::ParameterDBNULL::getInstance()) {
                PDB::ParameterDBCollection::createInstance(id, ("DB" + std::to_string(id)).c_str(), &locks[id], 0);
            }
        }
        (void)LogicCtrl::LogicComponentCollection::getInstance().initialize();
        return true;
    }();
    (void)started;
}

} // namespace dadovbench
