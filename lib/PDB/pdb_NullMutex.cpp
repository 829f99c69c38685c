#include "pdb_NullMutex.h"

#include <new>

namespace PDB {

NullMutex& NullMutex::getInstance()
{
    // Built in place once and never destroyed: databases may still use it while statics are torn down.
    alignas(NullMutex) static unsigned char storage[sizeof(NullMutex)];
    static NullMutex* const instance = new (storage) NullMutex();
    return *instance;
}

} // namespace PDB
