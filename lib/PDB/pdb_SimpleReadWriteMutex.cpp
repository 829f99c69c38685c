#include "pdb_SimpleReadWriteMutex.h"

namespace PDB {

i32 SimpleReadWriteMutex::lockRead()
{
    m_mutex.lock();
    return 0;
}

i32 SimpleReadWriteMutex::lockWrite()
{
    m_mutex.lock();
    return 0;
}

i32 SimpleReadWriteMutex::unlockRead()
{
    m_mutex.unlock();
    return 0;
}

i32 SimpleReadWriteMutex::unlockWrite()
{
    m_mutex.unlock();
    return 0;
}

} // namespace PDB
