#include "pdb_SimpleReadWriteMutex.h"

namespace PDB {

i32 SimpleReadWriteMutex::lockRead() {
    m_Mutex.lock();
    return 0;
}

i32 SimpleReadWriteMutex::lockWrite() {
    m_Mutex.lock();
    return 0;
}

i32 SimpleReadWriteMutex::unlockRead() {
    m_Mutex.unlock();
    return 0;
}

i32 SimpleReadWriteMutex::unlockWrite() {
    m_Mutex.unlock();
    return 0;
}

}  // namespace PDB
