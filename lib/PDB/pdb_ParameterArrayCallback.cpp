#include "pdb_ParameterArrayCallback.h"

#include <new>

namespace PDB {

DummyParameterArrayCallback& DummyParameterArrayCallback::getInstance()
{
    // Built in place once and never destroyed: arrays may still report to it while statics are torn down.
    alignas(DummyParameterArrayCallback) static unsigned char storage[sizeof(DummyParameterArrayCallback)];
    static DummyParameterArrayCallback* const instance = new (storage) DummyParameterArrayCallback();
    return *instance;
}

} // namespace PDB
