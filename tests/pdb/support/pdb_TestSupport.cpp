#include "pdb_TestSupport.h"

namespace pdbtest {

i32 DepthMutex::lockRead()
{
    return lockWrite();
}

i32 DepthMutex::unlockRead()
{
    return unlockWrite();
}

i32 DepthMutex::lockWrite()
{
    m_mutex.lock();
    ++m_depth;
    return 0;
}

i32 DepthMutex::unlockWrite()
{
    --m_depth;
    m_mutex.unlock();
    return 0;
}

i32 DepthObserver::onParameterChanged()
{
    m_depths.push_back(m_mutex.m_depth.load());
    return 0;
}

} // namespace pdbtest
